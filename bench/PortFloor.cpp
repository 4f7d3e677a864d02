// The floor of a thermometer watch, for PortScale_bench: one epoll loop over every serial device
// that cuts its bytes into lines at each carriage return, parses the temperature out of each line
// and sends the line to every TCP client of that device's port. Nothing else: no alarms, no status,
// no log. Prints "ready" once every port listens on 127.0.0.1.
// Usage: PortFloor DEVICE PORT [DEVICE PORT]...
#include <fcntl.h>
#include <netinet/in.h>
#include <sys/epoll.h>
#include <sys/socket.h>
#include <termios.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

volatile double LastReading;  // so that the parsing is not left out

struct TThermometer {
  int Device = -1;
  int Listener = -1;
  std::string Pending;
  std::vector<int> Clients;
};

enum TKind : uint32_t { Device, Listener, Client };

uint64_t Tag(TKind kind, size_t index, int fd) {
  return uint64_t{kind} << 56 | uint64_t{index} << 32 | static_cast<uint32_t>(fd);
}

void Watch(int epoll, int fd, uint64_t tag) {
  epoll_event event{EPOLLIN, {.u64 = tag}};
  if (epoll_ctl(epoll, EPOLL_CTL_ADD, fd, &event) != 0) {
    perror("epoll_ctl");
    exit(1);
  }
}

int Listen(int port) {
  int fd = socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK, 0);
  int yes = 1;
  setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(static_cast<uint16_t>(port));
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 || listen(fd, 128) != 0) {
    perror("listen");
    exit(1);
  }
  return fd;
}

int OpenDevice(const char* path) {
  int fd = open(path, O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  termios tio{};
  if (fd < 0 || tcgetattr(fd, &tio) != 0) {
    perror(path);
    exit(1);
  }
  cfmakeraw(&tio);
  cfsetspeed(&tio, B9600);
  tcsetattr(fd, TCSANOW, &tio);
  return fd;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 3 || argc % 2 != 1) {
    fprintf(stderr, "Usage: %s DEVICE PORT [DEVICE PORT]...\n", argv[0]);
    return 2;
  }
  int epoll = epoll_create1(EPOLL_CLOEXEC);
  std::vector<TThermometer> thermometers((argc - 1) / 2);
  for (size_t i = 0; i < thermometers.size(); ++i) {
    thermometers[i].Device = OpenDevice(argv[1 + 2 * i]);
    thermometers[i].Listener = Listen(atoi(argv[2 + 2 * i]));
    Watch(epoll, thermometers[i].Device, Tag(Device, i, thermometers[i].Device));
    Watch(epoll, thermometers[i].Listener, Tag(Listener, i, thermometers[i].Listener));
  }
  printf("ready\n");
  fflush(stdout);
  epoll_event events[64];
  char buffer[4096];
  for (;;) {
    int n = epoll_wait(epoll, events, 64, -1);
    for (int e = 0; e < n; ++e) {
      const auto kind = static_cast<TKind>(events[e].data.u64 >> 56);
      TThermometer& thermometer = thermometers[events[e].data.u64 >> 32 & 0xffffff];
      const int fd = static_cast<int>(events[e].data.u64 & 0xffffffff);
      if (kind == Listener) {
        int client = accept4(fd, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
        if (client < 0) continue;
        thermometer.Clients.push_back(client);
        Watch(epoll, client, Tag(Client, events[e].data.u64 >> 32 & 0xffffff, client));
      } else if (kind == Client) {
        if (recv(fd, buffer, sizeof buffer, MSG_DONTWAIT) != 0) continue;
        std::erase(thermometer.Clients, fd);
        close(fd);
      } else {
        ssize_t size = read(fd, buffer, sizeof buffer);
        if (size <= 0) continue;
        thermometer.Pending.append(buffer, static_cast<size_t>(size));
        for (size_t end; (end = thermometer.Pending.find('\r')) != std::string::npos;) {
          std::string line = thermometer.Pending.substr(0, end + 1);
          thermometer.Pending.erase(0, end + 1);
          if (line.rfind("*B1E1", 0) == 0) line.erase(0, 5);
          if (size_t sign = line.find_first_of("+-"); sign != std::string::npos)
            LastReading = strtod(line.c_str() + sign, nullptr);
          for (int client : thermometer.Clients)
            send(client, line.data(), line.size(), MSG_DONTWAIT | MSG_NOSIGNAL);
        }
      }
    }
  }
}
