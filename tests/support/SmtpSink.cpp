#include "support/SmtpSink.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <openssl/err.h>
#include <openssl/ssl.h>
#include <poll.h>
#include <pthread.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <optional>
#include <stdexcept>

#include "support/Env.h"

namespace duz::test {

namespace {

constexpr size_t MaxLine = size_t{64} * 1024;

bool WaitReadable(int socket, int timeoutMs) {
  pollfd entry{socket, POLLIN, 0};
  return poll(&entry, 1, timeoutMs) > 0;
}

// The address of "RCPT TO:<address>".
std::string RecipientOf(const std::string& command) {
  const size_t open = command.find('<');
  const size_t close = command.rfind('>');
  return open != std::string::npos && close != std::string::npos && close > open
             ? command.substr(open + 1, close - open - 1)
             : "";
}

}  // namespace

// One accepted connection, in clear or, after StartTls, inside TLS; reads wait at most 5 s.
class TSmtpSink::TConnection {
 public:
  explicit TConnection(int socket) : FSocket(socket) {
    const timeval limit{5, 0};
    setsockopt(FSocket, SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof limit);
    setsockopt(FSocket, SOL_SOCKET, SO_SNDTIMEO, &limit, sizeof limit);
  }
  ~TConnection() {
    if (FTls) SSL_shutdown(FSsl);
    SSL_free(FSsl);
    ERR_clear_error();
    close(FSocket);
  }
  TConnection(const TConnection&) = delete;
  TConnection& operator=(const TConnection&) = delete;

  bool InTls() const { return FTls; }
  // Goes without TLS's closing alert, as a server that crashed would.
  void Abandon() { FTls = false; }
  // Whether the handshake succeeded; a client that refuses the certificate ends it here.
  bool StartTls(SSL_CTX* context) {
    FSsl = SSL_new(context);
    FTls = FSsl != nullptr && SSL_set_fd(FSsl, FSocket) == 1 && SSL_accept(FSsl) == 1;
    return FTls;
  }
  // One line without CRLF; nothing at the end of the stream, after 5 s of silence or beyond MaxLine.
  std::optional<std::string> ReadLine() {
    for (;;) {
      if (size_t end = FBuffer.find("\r\n"); end != std::string::npos) {
        std::string line = FBuffer.substr(0, end);
        FBuffer.erase(0, end + 2);
        return line;
      }
      if (FBuffer.size() > MaxLine) return std::nullopt;
      char chunk[4096];
      const ssize_t n = FTls ? SSL_read(FSsl, chunk, sizeof chunk) : recv(FSocket, chunk, sizeof chunk, 0);
      if (n <= 0) return std::nullopt;
      FBuffer.append(chunk, static_cast<size_t>(n));
    }
  }
  void Reply(const std::string& text) {
    const std::string line = text + "\r\n";
    if (FTls)
      SSL_write(FSsl, line.data(), static_cast<int>(line.size()));
    else
      (void)!send(FSocket, line.data(), line.size(), MSG_NOSIGNAL);
  }

 private:
  int FSocket;
  SSL* FSsl = nullptr;
  bool FTls = false;
  std::string FBuffer;
};

std::vector<std::string> TSmtpSession::Body() const {
  std::vector<std::string> body;
  bool inBody = false;
  for (const std::string& line : Data) {
    if (inBody) body.push_back(line);
    if (line.empty()) inBody = true;
  }
  return body;
}

TSmtpSink::TSmtpSink(TSmtpSinkOptions options) : FOptions(std::move(options)) {
  if (FOptions.Tls != TSmtpSinkOptions::TTls::None) {
    FTlsContext = SSL_CTX_new(TLS_server_method());
    if (FTlsContext == nullptr ||
        SSL_CTX_use_certificate_chain_file(FTlsContext, FOptions.Certificate.Cert.c_str()) != 1 ||
        SSL_CTX_use_PrivateKey_file(FTlsContext, FOptions.Certificate.Key.c_str(), SSL_FILETYPE_PEM) != 1) {
      SSL_CTX_free(FTlsContext);
      throw std::runtime_error("SMTP sink: cannot load the server certificate");
    }
  }
  FListener = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t length = sizeof address;
  if (FListener < 0 || bind(FListener, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
      listen(FListener, 8) != 0 ||
      getsockname(FListener, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
    SSL_CTX_free(FTlsContext);
    throw std::runtime_error("SMTP sink: cannot listen on 127.0.0.1");
  }
  FPort = ntohs(address.sin_port);
  FThread = std::thread([this] {
    // A client that hangs up while the sink answers inside TLS must not end the test program. Only
    // this thread is shielded, so a client under test that raised SIGPIPE would still be caught.
    sigset_t pipe;
    sigemptyset(&pipe);
    sigaddset(&pipe, SIGPIPE);
    pthread_sigmask(SIG_BLOCK, &pipe, nullptr);
    while (!FStop) {
      if (!WaitReadable(FListener, 50)) continue;
      const int client = accept4(FListener, nullptr, nullptr, SOCK_CLOEXEC);
      if (client < 0) continue;
      TSmtpSession session;
      {
        TConnection connection(client);
        Serve(connection, session);
      }
      std::lock_guard lock(FLock);
      FSessions.push_back(session);
    }
  });
}

TSmtpSink::TSmtpSink(TSmtpSinkOptions::TTls tls, TCertificateFiles certificate)
    : TSmtpSink([&] {
        TSmtpSinkOptions options;
        options.Tls = tls;
        options.Certificate = std::move(certificate);
        return options;
      }()) {}

TSmtpSink::~TSmtpSink() {
  FStop = true;
  FThread.join();
  close(FListener);
  SSL_CTX_free(FTlsContext);
}

void TSmtpSink::Serve(TConnection& connection, TSmtpSession& session) {
  using TTls = TSmtpSinkOptions::TTls;
  const auto record = [&](const std::string& line) {
    session.Commands.push_back(line);
    if (!connection.InTls()) session.CommandsInClear = session.Commands.size();
  };
  if (FOptions.Tls == TTls::Implicit && !connection.StartTls(FTlsContext)) return;
  if (auto greeting = FOptions.Replies.find(""); greeting != FOptions.Replies.end())
    return connection.Reply(greeting->second);
  connection.Reply("220 sink ready");
  while (std::optional<std::string> line = connection.ReadLine()) {
    record(*line);
    const std::string verb = line->substr(0, 4);
    const bool offerTls = FOptions.Tls == TTls::StartTls && !connection.InTls();
    if (auto replaced = FOptions.Replies.find(verb); replaced != FOptions.Replies.end()) {
      connection.Reply(replaced->second);
    } else if (verb == "EHLO") {
      connection.Reply("250-sink");
      connection.Reply(offerTls ? "250 STARTTLS" : "250 AUTH PLAIN LOGIN");
    } else if (*line == "STARTTLS" && offerTls) {
      connection.Reply("220 go ahead");
      if (!connection.StartTls(FTlsContext)) return;
    } else if (*line == "AUTH LOGIN") {
      // The user name and the password follow, each answered in turn.
      connection.Reply("334 VXNlcm5hbWU6");
      if (auto user = connection.ReadLine()) record(*user);
      connection.Reply("334 UGFzc3dvcmQ6");
      if (auto password = connection.ReadLine()) record(*password);
      connection.Reply("235 accepted");
    } else if (verb == "RCPT" && FOptions.RefusedRecipients.contains(RecipientOf(*line))) {
      connection.Reply("550 5.1.1 no such user");
    } else if (verb == "DATA") {
      connection.Reply("354 go ahead");
      while (std::optional<std::string> data = connection.ReadLine()) {
        if (*data == ".") break;
        session.Data.push_back(data->starts_with("..") ? data->substr(1) : *data);
      }
      record(".");
      {
        std::lock_guard lock(FLock);
        FMails.push_back(session);
      }
      connection.Reply("250 queued");
    } else if (verb == "QUIT") {
      connection.Reply("221 bye");
      return;
    } else {
      connection.Reply("250 ok");
    }
    if (session.Commands.back() == FOptions.HangUpAfter) {
      connection.Abandon();
      return;
    }
  }
}

std::vector<TSmtpSession> TSmtpSink::Mails() const {
  std::lock_guard lock(FLock);
  return FMails;
}

std::vector<TSmtpSession> TSmtpSink::Sessions() const {
  std::lock_guard lock(FLock);
  return FSessions;
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

bool TSmtpSink::WaitForSessions(size_t count, std::chrono::milliseconds timeout) const {
  return WaitUntil([&] { return Sessions().size() >= count; }, timeout);
}

}  // namespace duz::test
