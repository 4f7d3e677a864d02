// alarm-sink: where the demo's alarms arrive. A mail server and an HTTP receiver on 127.0.0.1 that
// accept everything and print each e-mail, webhook post and GET as one line, so that a newcomer sees
// the alarms come in. Nothing is delivered anywhere. One connection at a time per protocol; every
// read is bounded in size and time. POSIX only, self-contained.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <mutex>
#include <string>
#include <thread>

namespace {

const char* const Help = R"(Usage: alarm-sink [--smtp PORT] [--http PORT]

Listens on 127.0.0.1 for e-mail (SMTP, default port 2525) and HTTP (default port 8080), accepts
every message and request, and prints one line for each on stdout: the e-mail's recipients,
subject and body, or the request's method, path and body. Ends on SIGINT or SIGTERM.
)";

constexpr size_t MaxLine = 4096;        // an SMTP command or message line
constexpr size_t MaxMessage = 1 << 20;  // an e-mail's text, or a request's head and body
constexpr int ReadTimeoutSeconds = 10;  // a client that says nothing for this long is dropped

std::mutex PrintLock;

void Print(const std::string& text) {
  std::lock_guard lock(PrintLock);
  const std::time_t now = std::time(nullptr);
  char stamp[16];
  std::strftime(stamp, sizeof stamp, "%H:%M:%S", std::localtime(&now));
  std::printf("alarm-sink [%s] %s\n", stamp, text.c_str());
  std::fflush(stdout);
}

// One accepted connection, read through a buffer.
class TConnection {
 public:
  explicit TConnection(int socket) : FSocket(socket) {
    timeval timeout{ReadTimeoutSeconds, 0};
    setsockopt(FSocket, SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof timeout);
  }
  ~TConnection() { close(FSocket); }

  // A line without its CRLF; false at the end, after the time-out, or past max bytes.
  bool ReadLine(std::string& line, size_t max = MaxLine) {
    for (;;) {
      if (const size_t end = FBuffer.find("\r\n"); end != std::string::npos) {
        line = FBuffer.substr(0, end);
        FBuffer.erase(0, end + 2);
        return true;
      }
      if (FBuffer.size() > max || !Fill()) return false;
    }
  }
  bool Read(std::string& data, size_t size) {
    while (FBuffer.size() < size)
      if (!Fill()) return false;
    data = FBuffer.substr(0, size);
    FBuffer.erase(0, size);
    return true;
  }
  void Write(const std::string& text) { send(FSocket, text.data(), text.size(), MSG_NOSIGNAL); }

 private:
  bool Fill() {
    char chunk[4096];
    const ssize_t received = recv(FSocket, chunk, sizeof chunk, 0);
    if (received <= 0) return false;
    FBuffer.append(chunk, static_cast<size_t>(received));
    return true;
  }

  int FSocket;
  std::string FBuffer;
};

void ServeSmtp(TConnection& client) {
  client.Write("220 alarm-sink ESMTP\r\n");
  std::string line, recipients, subject, body;
  while (client.ReadLine(line)) {
    const std::string verb = line.substr(0, 4);
    if (verb == "QUIT" || verb == "quit") {
      client.Write("221 bye\r\n");
      return;
    }
    if (verb == "RCPT" || verb == "rcpt") recipients += (recipients.empty() ? "" : ", ") + line.substr(8);
    if (verb != "DATA" && verb != "data") {
      client.Write(verb == "EHLO" || verb == "ehlo" ? "250-alarm-sink\r\n250 8BITMIME\r\n" : "250 ok\r\n");
      continue;
    }
    client.Write("354 go on\r\n");
    bool inBody = false;
    size_t size = 0;
    subject.clear(), body.clear();
    while (client.ReadLine(line) && line != "." && (size += line.size()) < MaxMessage) {
      if (!inBody && line.starts_with("Subject: ")) subject = line.substr(9);
      if (inBody) body += (body.empty() ? "" : " / ") + line;
      inBody = inBody || line.empty();
    }
    if (line != ".") return;
    Print("e-mail to " + recipients + ": [" + subject + "] " + body);
    recipients.clear();
    client.Write("250 accepted\r\n");
  }
}

void ServeHttp(TConnection& client) {
  std::string requestLine, header, body;
  if (!client.ReadLine(requestLine)) return;
  size_t length = 0, size = requestLine.size();
  while (client.ReadLine(header) && !header.empty() && (size += header.size()) < MaxMessage)
    if (strncasecmp(header.c_str(), "Content-Length:", 15) == 0)
      length = std::strtoul(header.c_str() + 15, nullptr, 10);
  if (!header.empty() || length > MaxMessage || !client.Read(body, length)) return;
  Print(requestLine.substr(0, requestLine.rfind(' ')) + (body.empty() ? "" : ": " + body));
  client.Write("HTTP/1.1 200 OK\r\nContent-Length: 3\r\nConnection: close\r\n\r\nok\n");
}

// Listens on 127.0.0.1:port and serves one connection after another; exits the program when the
// port cannot be had.
void Listen(int port, void (*serve)(TConnection&), const char* what) {
  const int listener = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  const int yes = 1;
  setsockopt(listener, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(static_cast<uint16_t>(port));
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
      listen(listener, 16) != 0) {
    std::fprintf(stderr, "alarm-sink: cannot listen for %s on 127.0.0.1:%d: %s\n", what, port,
                 std::strerror(errno));
    std::exit(1);
  }
  for (;;) {
    const int socket = accept4(listener, nullptr, nullptr, SOCK_CLOEXEC);
    if (socket < 0) continue;
    TConnection client(socket);
    serve(client);
  }
}

}  // namespace

int main(int argc, char** argv) {
  int smtpPort = 2525, httpPort = 8080;
  for (int i = 1; i < argc; ++i) {
    const std::string argument = argv[i];
    if ((argument == "--smtp" || argument == "--http") && i + 1 < argc) {
      (argument == "--smtp" ? smtpPort : httpPort) = std::atoi(argv[++i]);
    } else {
      std::fputs(Help, argument == "--help" ? stdout : stderr);
      return argument == "--help" ? 0 : 2;
    }
  }
  std::thread smtp(Listen, smtpPort, ServeSmtp, "e-mail");
  std::thread http(Listen, httpPort, ServeHttp, "HTTP");
  Print("waiting for e-mail on 127.0.0.1:" + std::to_string(smtpPort) +
        " and HTTP on 127.0.0.1:" + std::to_string(httpPort));
  smtp.join();
  http.join();
}
