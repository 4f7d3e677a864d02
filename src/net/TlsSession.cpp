#include "net/TlsSession.h"

#include <poll.h>
#include <sys/socket.h>

#include <cerrno>
#include <cstring>

#include "base/Exception.h"
#include "net/HostAddress.h"
#include "net/OpenSslError.h"
#include "net/OpenSslLibrary.h"

namespace duz {

namespace {

const char* const ClosedByServer = "Connection closed by the server";

// The socket BIO writes with write(2), which raises SIGPIPE once the server has gone; this one sends
// with MSG_NOSIGNAL, as TTcpStream does, so a vanished server fails the e-mail, not the process.
// BIO_get_fd, BIO_clear_retry_flags and BIO_set_retry_write are macros of these calls.
int SendWithoutSignal(BIO* bio, const char* data, int size) {
  const TOpenSslLibrary& ssl = TOpenSslLibrary::Load();
  const auto socket = static_cast<int>(ssl.BioCtrl(bio, BIO_C_GET_FD, 0, nullptr));
  const ssize_t sent = send(socket, data, static_cast<size_t>(size), MSG_NOSIGNAL);
  ssl.BioClearFlags(bio, BIO_FLAGS_RWS | BIO_FLAGS_SHOULD_RETRY);
  if (sent < 0 && (errno == EAGAIN || errno == EINTR))
    ssl.BioSetFlags(bio, BIO_FLAGS_WRITE | BIO_FLAGS_SHOULD_RETRY);
  return static_cast<int>(sent);
}

// The socket BIO with the write above; made once, kept for the life of the process.
const BIO_METHOD* SocketWithoutSignal(const TOpenSslLibrary& ssl) {
  static BIO_METHOD* const method = [&ssl] {
    const BIO_METHOD* socket = ssl.BioSSocket();
    BIO_METHOD* made = ssl.BioMethNew(BIO_TYPE_SOCKET, "socket without SIGPIPE");
    if (made == nullptr) return made;
    ssl.BioMethSetWrite(made, SendWithoutSignal);
    ssl.BioMethSetRead(made, ssl.BioMethGetRead(socket));
    ssl.BioMethSetPuts(made, ssl.BioMethGetPuts(socket));
    ssl.BioMethSetCtrl(made, ssl.BioMethGetCtrl(socket));
    ssl.BioMethSetCreate(made, ssl.BioMethGetCreate(socket));
    ssl.BioMethSetDestroy(made, ssl.BioMethGetDestroy(socket));
    return made;
  }();
  return method;
}

}  // namespace

// The macros SSL_CTX_set_min_proto_version, SSL_CTX_set_mode and SSL_set_tlsext_host_name stand for
// the ctrl calls here.
TTlsSession::TTlsSession(int socket, const TTlsSettings& settings)
    : FOpenSsl(TOpenSslLibrary::Load()), FVerify(settings.Verify) {
  const TOpenSslLibrary& ssl = FOpenSsl;
  ssl.ErrClearError();
  try {
    FContext = ssl.SslCtxNew(ssl.TlsClientMethod());
    if (FContext == nullptr) throw Exception("TLS: " + TakeQueuedReason());
    ssl.SslCtxCtrl(FContext, SSL_CTRL_SET_MIN_PROTO_VERSION, TLS1_2_VERSION, nullptr);
    ssl.SslCtxCtrl(FContext, SSL_CTRL_MODE,
                   SSL_MODE_ENABLE_PARTIAL_WRITE | SSL_MODE_ACCEPT_MOVING_WRITE_BUFFER, nullptr);
    if (settings.Verify) {
      ssl.SslCtxSetVerify(FContext, SSL_VERIFY_PEER, nullptr);
      ssl.SslCtxSetDefaultVerifyPaths(FContext);
      if (!settings.CaFile.empty() &&
          ssl.SslCtxLoadVerifyLocations(FContext, settings.CaFile.c_str(), nullptr) != 1)
        throw Exception("Cannot load the CA file " + settings.CaFile + ": " + TakeQueuedReason());
    }
    FSsl = ssl.SslNew(FContext);
    const BIO_METHOD* method = SocketWithoutSignal(ssl);
    BIO* const bio = method != nullptr ? ssl.BioNew(method) : nullptr;
    if (FSsl == nullptr || bio == nullptr) {
      ssl.BioFree(bio);
      throw Exception("TLS: " + TakeQueuedReason());
    }
    ssl.BioIntCtrl(bio, BIO_C_SET_FD, BIO_NOCLOSE, socket);
    ssl.SslSetBio(FSsl, bio, bio);
    const bool numeric = IsIpAddress(settings.ServerName);
    // Servers pick their certificate by the name; an address is not a name they may be sent.
    if (!numeric)
      ssl.SslCtrl(FSsl, SSL_CTRL_SET_TLSEXT_HOSTNAME, TLSEXT_NAMETYPE_host_name,
                  const_cast<char*>(settings.ServerName.c_str()));
    if (settings.Verify) {
      const int nameSet =
          numeric ? ssl.X509VerifyParamSet1IpAsc(ssl.SslGet0Param(FSsl), settings.ServerName.c_str())
                  : ssl.SslSet1Host(FSsl, settings.ServerName.c_str());
      if (nameSet != 1) throw Exception("TLS: cannot check the name " + settings.ServerName);
    }
  } catch (...) {
    ssl.SslFree(FSsl);
    ssl.SslCtxFree(FContext);
    ssl.ErrClearError();
    throw;
  }
}

TTlsSession::~TTlsSession() {
  // A fatal error forbids the closing alert; an unfinished handshake has nothing to close.
  if (!FFailed && FOpenSsl.SslIsInitFinished(FSsl)) FOpenSsl.SslShutdown(FSsl);
  FOpenSsl.SslFree(FSsl);
  FOpenSsl.SslCtxFree(FContext);
  FOpenSsl.ErrClearError();
}

short TTlsSession::Handshake() {
  FOpenSsl.ErrClearError();
  return Outcome(FOpenSsl.SslConnect(FSsl));
}

short TTlsSession::Read(std::string& buffer) {
  char chunk[4096];
  std::size_t received = 0;
  FOpenSsl.ErrClearError();
  const int result = FOpenSsl.SslReadEx(FSsl, chunk, sizeof chunk, &received);
  if (result == 1) buffer.append(chunk, received);
  return Outcome(result);
}

short TTlsSession::Write(std::string_view data, std::size_t& written) {
  written = 0;
  FOpenSsl.ErrClearError();
  return Outcome(FOpenSsl.SslWriteEx(FSsl, data.data(), data.size(), &written));
}

std::string TTlsSession::Description() const {
  return std::string(FOpenSsl.SslGetVersion(FSsl)) + ", " +
         FOpenSsl.SslCipherGetName(FOpenSsl.SslGetCurrentCipher(FSsl));
}

short TTlsSession::Outcome(int result) {
  const int error = FOpenSsl.SslGetError(FSsl, result);
  const int savedErrno = errno;
  switch (error) {
    case SSL_ERROR_NONE:
      return 0;
    case SSL_ERROR_WANT_READ:
      return POLLIN;
    case SSL_ERROR_WANT_WRITE:
      return POLLOUT;
    default:
      break;
  }
  FFailed = true;
  const auto reason = [&]() -> std::string {
    if (error == SSL_ERROR_ZERO_RETURN) return ClosedByServer;
    if (error == SSL_ERROR_SYSCALL) return savedErrno != 0 ? std::strerror(savedErrno) : ClosedByServer;
    if (const long verified = FOpenSsl.SslGetVerifyResult(FSsl); FVerify && verified != X509_V_OK)
      return std::string("certificate verify failed: ") + FOpenSsl.X509VerifyCertErrorString(verified);
    if (ERR_GET_REASON(FOpenSsl.ErrPeekLastError()) == SSL_R_UNEXPECTED_EOF_WHILE_READING)
      return ClosedByServer;
    return "TLS failed: " + TakeQueuedReason();
  };
  const std::string message = reason();
  FOpenSsl.ErrClearError();
  throw Exception(message);
}

}  // namespace duz
