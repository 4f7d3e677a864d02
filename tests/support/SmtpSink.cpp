#include "support/SmtpSink.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <optional>
#include <stdexcept>

#include "support/Env.h"

namespace duz::test {

namespace {

constexpr size_t MaxLine = 64 * 1024;

bool WaitReadable(int socket, int timeoutMs) {
  pollfd entry{socket, POLLIN, 0};
  return poll(&entry, 1, timeoutMs) > 0;
}

// One line without CRLF; nothing at the end of the stream, after 5 s of silence or beyond MaxLine.
std::optional<std::string> ReadLine(int socket, std::string& buffer) {
  for (;;) {
    if (size_t end = buffer.find("\r\n"); end != std::string::npos) {
      std::string line = buffer.substr(0, end);
      buffer.erase(0, end + 2);
      return line;
    }
    if (buffer.size() > MaxLine || !WaitReadable(socket, 5000)) return std::nullopt;
    char chunk[4096];
    ssize_t n = recv(socket, chunk, sizeof chunk, 0);
    if (n <= 0) return std::nullopt;
    buffer.append(chunk, static_cast<size_t>(n));
  }
}

void Reply(int socket, const std::string& text) {
  std::string line = text + "\r\n";
  (void)!send(socket, line.data(), line.size(), MSG_NOSIGNAL);
}

}  // namespace

std::vector<std::string> TSmtpSession::Body() const {
  std::vector<std::string> body;
  bool inBody = false;
  for (const std::string& line : Data) {
    if (inBody) body.push_back(line);
    if (line.empty()) inBody = true;
  }
  return body;
}

TSmtpSink::TSmtpSink(std::map<std::string, std::string> replies) : FReplies(std::move(replies)) {
  FListener = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t length = sizeof address;
  if (FListener < 0 || bind(FListener, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
      listen(FListener, 8) != 0 ||
      getsockname(FListener, reinterpret_cast<sockaddr*>(&address), &length) != 0)
    throw std::runtime_error("SMTP sink: cannot listen on 127.0.0.1");
  FPort = ntohs(address.sin_port);
  FThread = std::thread([this] {
    while (!FStop) {
      if (!WaitReadable(FListener, 50)) continue;
      int client = accept(FListener, nullptr, nullptr);
      if (client < 0) continue;
      Serve(client);
      close(client);
      ++FSessions;
    }
  });
}

TSmtpSink::~TSmtpSink() {
  FStop = true;
  FThread.join();
  close(FListener);
}

void TSmtpSink::Serve(int socket) {
  TSmtpSession session;
  std::string buffer;
  if (auto greeting = FReplies.find(""); greeting != FReplies.end()) return Reply(socket, greeting->second);
  Reply(socket, "220 sink ready");
  while (std::optional<std::string> line = ReadLine(socket, buffer)) {
    session.Commands.push_back(*line);
    const std::string verb = line->substr(0, 4);
    if (auto replaced = FReplies.find(verb); replaced != FReplies.end()) {
      Reply(socket, replaced->second);
    } else if (verb == "EHLO") {
      Reply(socket, "250-sink");
      Reply(socket, "250 AUTH PLAIN LOGIN");
    } else if (*line == "AUTH LOGIN") {
      // The user name and the password follow, each answered in turn.
      Reply(socket, "334 VXNlcm5hbWU6");
      if (auto user = ReadLine(socket, buffer)) session.Commands.push_back(*user);
      Reply(socket, "334 UGFzc3dvcmQ6");
      if (auto password = ReadLine(socket, buffer)) session.Commands.push_back(*password);
      Reply(socket, "235 accepted");
    } else if (verb == "DATA") {
      Reply(socket, "354 go ahead");
      while (std::optional<std::string> data = ReadLine(socket, buffer)) {
        if (*data == ".") break;
        session.Data.push_back(data->starts_with("..") ? data->substr(1) : *data);
      }
      session.Commands.push_back(".");
      {
        std::lock_guard lock(FLock);
        FMails.push_back(session);
      }
      Reply(socket, "250 queued");
    } else if (verb == "QUIT") {
      Reply(socket, "221 bye");
      return;
    } else {
      Reply(socket, "250 ok");
    }
  }
}

std::vector<TSmtpSession> TSmtpSink::Mails() const {
  std::lock_guard lock(FLock);
  return FMails;
}

std::vector<std::string> TSmtpSink::Bodies() const {
  std::vector<std::string> bodies;
  for (const TSmtpSession& mail : Mails())
    for (const std::string& line : mail.Body()) bodies.push_back(line);
  return bodies;
}

bool TSmtpSink::WaitForMails(size_t count, std::chrono::milliseconds timeout) const {
  return WaitUntil([&] { return Mails().size() >= count; }, timeout);
}

}  // namespace duz::test
