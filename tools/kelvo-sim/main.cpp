// kelvo-sim: a thermometer on a pseudo-terminal (or on a given serial device) for trying out and
// testing the service. It sends a reading line at a fixed period, following a temperature profile,
// with the faults a tester needs, and prints what the other side writes to the thermometer.
// POSIX only, self-contained.
#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <signal.h>
#include <termios.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

namespace {

const char* const Help = R"(Usage: kelvo-sim [options]

Opens a pseudo-terminal, prints the path of its device on the first line of stdout, and sends
thermometer lines to it: "*B1E1" + "+023.5C" + carriage return. Lines produced while no program
has the device open are dropped, as on a real wire. What a program writes to the device is
printed as "rx: " + the bytes (\r \n \t \\ and \xHH for the others).

Device:
  --device PATH         use this serial device instead of a pseudo-terminal
  --symlink PATH        make PATH a symbolic link to the pseudo-terminal (removed at exit)
Timing:
  --period-ms N         one line every N ms (default 1000)
  --count N             stop after N lines, one period after the last (default: run until stopped)
Temperature (one of):
  --constant V          always V (default 23.5)
  --ramp FROM:TO:STEP   FROM, FROM+STEP, ... up to TO, then TO
  --sine MID:AMP:SECS   MID + AMP * sin(2 pi t / SECS)
  --values V1,V2,...    the values in turn, over and over
Faults:
  --silence-after N     after N lines, send nothing ...
  --silence-seconds S   ... for S seconds (default 30), then go on
  --garbage-every N     every Nth line carries no number
  --lone-cr-every N     every Nth line is a lone carriage return
  --split               write each line in two pieces, 50 ms apart
  --no-prefix           leave out "*B1E1"
  --help                this text

Ends on SIGINT or SIGTERM.
)";

struct TOptions {
  std::string Device;
  std::string Symlink;
  long PeriodMs = 1000;
  long Count = 0;
  std::function<double(long index, double seconds)> Temperature;  // of the line at index
  long SilenceAfter = 0;
  double SilenceSeconds = 30;
  long GarbageEvery = 0;
  long LoneCrEvery = 0;
  bool Split = false;
  bool Prefix = true;
};

[[noreturn]] void Fail(const std::string& message) {
  std::fprintf(stderr, "kelvo-sim: %s\n", message.c_str());
  std::exit(2);
}

double ToNumber(const std::string& text, const std::string& option) {
  char* end = nullptr;
  double value = std::strtod(text.c_str(), &end);
  if (text.empty() || *end != '\0' || !std::isfinite(value)) Fail(option + ": not a number: " + text);
  return value;
}

long ToCount(const std::string& text, const std::string& option) {
  double value = ToNumber(text, option);
  if (value < 0 || value != std::floor(value) || value > 1e9) Fail(option + ": not a count: " + text);
  return static_cast<long>(value);
}

std::vector<double> ToNumbers(const std::string& text, char separator, const std::string& option) {
  std::vector<double> numbers;
  size_t start = 0;
  for (;;) {
    size_t end = text.find(separator, start);
    numbers.push_back(ToNumber(text.substr(start, end - start), option));
    if (end == std::string::npos) return numbers;
    start = end + 1;
  }
}

std::vector<double> ToTriple(const std::string& text, const std::string& option) {
  std::vector<double> numbers = ToNumbers(text, ':', option);
  if (numbers.size() != 3) Fail(option + ": expected three numbers separated by ':'");
  return numbers;
}

TOptions ParseOptions(int argc, char** argv) {
  TOptions options;
  int profiles = 0;
  for (int i = 1; i < argc; ++i) {
    std::string option = argv[i];
    std::string value;
    bool hasValue = false;
    if (size_t equals = option.find('='); equals != std::string::npos) {
      value = option.substr(equals + 1);
      option.resize(equals);
      hasValue = true;
    }
    auto next = [&] {
      if (hasValue) return value;
      if (i + 1 >= argc) Fail(option + " needs a value");
      return std::string(argv[++i]);
    };
    if (option == "--help") {
      std::fputs(Help, stdout);
      std::exit(0);
    } else if (option == "--device") {
      options.Device = next();
    } else if (option == "--symlink") {
      options.Symlink = next();
    } else if (option == "--period-ms") {
      options.PeriodMs = ToCount(next(), option);
      if (options.PeriodMs == 0) Fail("--period-ms must be at least 1");
    } else if (option == "--count") {
      options.Count = ToCount(next(), option);
    } else if (option == "--constant") {
      double v = ToNumber(next(), option);
      options.Temperature = [v](long, double) { return v; };
      ++profiles;
    } else if (option == "--ramp") {
      std::vector<double> r = ToTriple(next(), option);
      double from = r[0], to = r[1], step = std::fabs(r[2]);
      options.Temperature = [from, to, step](long index, double) {
        double moved = step * static_cast<double>(index);
        return to >= from ? std::min(from + moved, to) : std::max(from - moved, to);
      };
      ++profiles;
    } else if (option == "--sine") {
      std::vector<double> s = ToTriple(next(), option);
      if (s[2] <= 0) Fail("--sine: the period must be positive");
      double mid = s[0], amplitude = s[1], seconds = s[2];
      options.Temperature = [mid, amplitude, seconds](long, double t) {
        return mid + amplitude * std::sin(2 * M_PI * t / seconds);
      };
      ++profiles;
    } else if (option == "--values") {
      std::vector<double> values = ToNumbers(next(), ',', option);
      options.Temperature = [values](long index, double) {
        return values[static_cast<size_t>(index) % values.size()];
      };
      ++profiles;
    } else if (option == "--silence-after") {
      options.SilenceAfter = ToCount(next(), option);
    } else if (option == "--silence-seconds") {
      options.SilenceSeconds = ToNumber(next(), option);
      if (options.SilenceSeconds < 0) Fail("--silence-seconds must not be negative");
    } else if (option == "--garbage-every") {
      options.GarbageEvery = ToCount(next(), option);
    } else if (option == "--lone-cr-every") {
      options.LoneCrEvery = ToCount(next(), option);
    } else if (option == "--split") {
      options.Split = true;
    } else if (option == "--no-prefix") {
      options.Prefix = false;
    } else {
      Fail("unknown option " + option + " (see --help)");
    }
  }
  if (profiles > 1) Fail("choose one of --constant, --ramp, --sine, --values");
  if (!options.Temperature) options.Temperature = [](long, double) { return 23.5; };
  if (!options.Device.empty() && !options.Symlink.empty()) Fail("--symlink goes with a pseudo-terminal only");
  return options;
}

// Line number counts from 1, as in "every Nth line".
std::string MakeLine(const TOptions& options, long number) {
  if (options.LoneCrEvery > 0 && number % options.LoneCrEvery == 0) return "\r";
  std::string line = options.Prefix ? "*B1E1" : "";
  if (options.GarbageEvery > 0 && number % options.GarbageEvery == 0) return line + " NO DATA\r";
  long index = number - 1;
  double value = options.Temperature(index, static_cast<double>(index * options.PeriodMs) / 1000.0);
  char reading[32];
  std::snprintf(reading, sizeof reading, "%c%05.1fC\r", value < 0 ? '-' : '+', std::fabs(value));
  return line + reading;
}

std::string Escape(const char* data, size_t size) {
  std::string out;
  for (size_t i = 0; i < size; ++i) {
    unsigned char c = static_cast<unsigned char>(data[i]);
    switch (c) {
      case '\r':
        out += "\\r";
        break;
      case '\n':
        out += "\\n";
        break;
      case '\t':
        out += "\\t";
        break;
      case '\\':
        out += "\\\\";
        break;
      default:
        if (c >= 0x20 && c < 0x7f) {
          out += static_cast<char>(c);
        } else {
          char hex[8];
          std::snprintf(hex, sizeof hex, "\\x%02X", c);
          out += hex;
        }
    }
  }
  return out;
}

int StopPipe[2] = {-1, -1};

void OnStopSignal(int) {
  char byte = 1;
  ssize_t ignored = write(StopPipe[1], &byte, 1);
  (void)ignored;
}

void SetRaw(int fd) {
  termios tio{};
  if (tcgetattr(fd, &tio) != 0) return;  // not a terminal: used as it is
  cfmakeraw(&tio);
  cfsetspeed(&tio, B9600);
  tcsetattr(fd, TCSANOW, &tio);
}

// The device to talk through; for a pseudo-terminal its path is printed (and linked).
int OpenDevice(const TOptions& options, std::string& slavePath) {
  if (!options.Device.empty()) {
    int fd = open(options.Device.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) Fail("cannot open " + options.Device + ": " + std::strerror(errno));
    SetRaw(fd);
    return fd;
  }
  int master = -1;
  int slave = -1;
  char name[256];
  termios raw{};
  cfmakeraw(&raw);
  cfsetspeed(&raw, B9600);
  if (openpty(&master, &slave, name, &raw, nullptr) != 0)
    Fail(std::string("openpty: ") + std::strerror(errno));
  // Nobody holds the device until a program opens it, so lines meanwhile are dropped, not kept.
  close(slave);
  fcntl(master, F_SETFL, fcntl(master, F_GETFL) | O_NONBLOCK);
  fcntl(master, F_SETFD, FD_CLOEXEC);
  slavePath = name;
  if (!options.Symlink.empty()) {
    unlink(options.Symlink.c_str());
    if (symlink(name, options.Symlink.c_str()) != 0)
      Fail("cannot link " + options.Symlink + ": " + std::strerror(errno));
  }
  std::printf("%s\n", name);
  std::fflush(stdout);
  return master;
}

// A pseudo-terminal whose device nobody has open reports a hang-up.
bool Listened(int fd) {
  pollfd pfd{fd, 0, 0};
  return poll(&pfd, 1, 0) == 0 || (pfd.revents & POLLHUP) == 0;
}

void Sleep(long milliseconds) {
  timespec pause{milliseconds / 1000, (milliseconds % 1000) * 1000000L};
  while (nanosleep(&pause, &pause) != 0 && errno == EINTR) {
  }
}

void Send(int fd, const std::string& bytes) {
  ssize_t written = write(fd, bytes.data(), bytes.size());
  if (written != static_cast<ssize_t>(bytes.size()))
    std::fprintf(stderr, "kelvo-sim: line dropped (%s)\n",
                 written < 0 ? std::strerror(errno) : "short write");
}

void SendLine(const TOptions& options, int fd, const std::string& line) {
  if (!Listened(fd)) return;
  if (options.Split && line.size() > 1) {
    Send(fd, line.substr(0, line.size() / 2));
    Sleep(50);
    Send(fd, line.substr(line.size() / 2));
  } else {
    Send(fd, line);
  }
}

long NowMs() {
  timespec now{};
  clock_gettime(CLOCK_MONOTONIC, &now);
  return now.tv_sec * 1000L + now.tv_nsec / 1000000L;
}

// Prints what arrived; false once the other side is gone for now.
bool PrintReceived(int fd) {
  char buffer[4096];
  ssize_t n = read(fd, buffer, sizeof buffer);
  if (n <= 0) return n < 0 && (errno == EAGAIN || errno == EINTR);
  std::printf("rx: %s\n", Escape(buffer, static_cast<size_t>(n)).c_str());
  std::fflush(stdout);
  return true;
}

void Run(const TOptions& options, int fd) {
  long number = 0;  // lines produced so far
  long due = NowMs();
  bool watching = true;  // false after a hang-up: POLLHUP would wake every poll until the next line
  for (;;) {
    long wait = std::max(0L, due - NowMs());
    pollfd fds[2] = {{StopPipe[0], POLLIN, 0}, {fd, static_cast<short>(watching ? POLLIN : 0), 0}};
    int n = poll(fds, watching ? 2 : 1, static_cast<int>(std::min(wait, 1000L)));
    if (n < 0 && errno != EINTR) Fail(std::string("poll: ") + std::strerror(errno));
    if (fds[0].revents != 0) return;
    if (watching && (fds[1].revents & POLLIN) != 0) watching = PrintReceived(fd);
    if (watching && (fds[1].revents & (POLLHUP | POLLERR)) != 0) watching = false;
    if (NowMs() < due) continue;
    if (options.Count > 0 && number == options.Count) return;
    ++number;
    SendLine(options, fd, MakeLine(options, number));
    watching = true;
    due += options.PeriodMs;
    if (number == options.SilenceAfter) due += std::lround(options.SilenceSeconds * 1000);
  }
}

}  // namespace

int main(int argc, char** argv) {
  TOptions options = ParseOptions(argc, argv);
  if (pipe2(StopPipe, O_CLOEXEC | O_NONBLOCK) != 0) Fail(std::string("pipe: ") + std::strerror(errno));
  struct sigaction action {};
  action.sa_handler = OnStopSignal;
  sigemptyset(&action.sa_mask);
  sigaction(SIGINT, &action, nullptr);
  sigaction(SIGTERM, &action, nullptr);

  std::string slavePath;
  int fd = OpenDevice(options, slavePath);
  Run(options, fd);
  close(fd);
  if (!options.Symlink.empty()) {
    char target[256] = {};
    if (readlink(options.Symlink.c_str(), target, sizeof target - 1) > 0 && slavePath == target)
      unlink(options.Symlink.c_str());
  }
  return 0;
}
