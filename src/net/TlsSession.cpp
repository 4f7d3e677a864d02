#include "net/TlsSession.h"

#include <openssl/err.h>
#include <openssl/ssl.h>
#include <openssl/x509v3.h>
#include <poll.h>
#include <sys/socket.h>

#include <cerrno>
#include <cstring>

#include "base/Exception.h"
#include "net/HostAddress.h"
#include "net/OpenSslError.h"

namespace duz {

namespace {

const char* const ClosedByServer = "Connection closed by the server";

// The socket BIO writes with write(2), which raises SIGPIPE once the server has gone; this one sends
// with MSG_NOSIGNAL, as TTcpStream does, so a vanished server fails the e-mail, not the process.
int SendWithoutSignal(BIO* bio, const char* data, int size) {
  const ssize_t sent =
      send(static_cast<int>(BIO_get_fd(bio, nullptr)), data, static_cast<size_t>(size), MSG_NOSIGNAL);
  BIO_clear_retry_flags(bio);
  if (sent < 0 && (errno == EAGAIN || errno == EINTR)) BIO_set_retry_write(bio);
  return static_cast<int>(sent);
}

// The socket BIO with the write above; made once, kept for the life of the process.
const BIO_METHOD* SocketWithoutSignal() {
  static BIO_METHOD* const method = [] {
    const BIO_METHOD* socket = BIO_s_socket();
    BIO_METHOD* made = BIO_meth_new(BIO_TYPE_SOCKET, "socket without SIGPIPE");
    if (made == nullptr) return made;
    BIO_meth_set_write(made, SendWithoutSignal);
    BIO_meth_set_read(made, BIO_meth_get_read(socket));
    BIO_meth_set_puts(made, BIO_meth_get_puts(socket));
    BIO_meth_set_ctrl(made, BIO_meth_get_ctrl(socket));
    BIO_meth_set_create(made, BIO_meth_get_create(socket));
    BIO_meth_set_destroy(made, BIO_meth_get_destroy(socket));
    return made;
  }();
  return method;
}

}  // namespace

TTlsSession::TTlsSession(int socket, const TTlsSettings& settings) : FVerify(settings.Verify) {
  ERR_clear_error();
  try {
    FContext = SSL_CTX_new(TLS_client_method());
    if (FContext == nullptr) throw Exception("TLS: " + TakeQueuedReason());
    SSL_CTX_set_min_proto_version(FContext, TLS1_2_VERSION);
    SSL_CTX_set_mode(FContext, SSL_MODE_ENABLE_PARTIAL_WRITE | SSL_MODE_ACCEPT_MOVING_WRITE_BUFFER);
    if (settings.Verify) {
      SSL_CTX_set_verify(FContext, SSL_VERIFY_PEER, nullptr);
      SSL_CTX_set_default_verify_paths(FContext);
      if (!settings.CaFile.empty() &&
          SSL_CTX_load_verify_locations(FContext, settings.CaFile.c_str(), nullptr) != 1)
        throw Exception("Cannot load the CA file " + settings.CaFile + ": " + TakeQueuedReason());
    }
    FSsl = SSL_new(FContext);
    BIO* const bio = SocketWithoutSignal() != nullptr ? BIO_new(SocketWithoutSignal()) : nullptr;
    if (FSsl == nullptr || bio == nullptr) {
      BIO_free(bio);
      throw Exception("TLS: " + TakeQueuedReason());
    }
    BIO_set_fd(bio, socket, BIO_NOCLOSE);
    SSL_set_bio(FSsl, bio, bio);
    const bool numeric = IsIpAddress(settings.ServerName);
    // Servers pick their certificate by the name; an address is not a name they may be sent.
    if (!numeric) SSL_set_tlsext_host_name(FSsl, settings.ServerName.c_str());
    if (settings.Verify) {
      const int nameSet =
          numeric ? X509_VERIFY_PARAM_set1_ip_asc(SSL_get0_param(FSsl), settings.ServerName.c_str())
                  : SSL_set1_host(FSsl, settings.ServerName.c_str());
      if (nameSet != 1) throw Exception("TLS: cannot check the name " + settings.ServerName);
    }
  } catch (...) {
    SSL_free(FSsl);
    SSL_CTX_free(FContext);
    ERR_clear_error();
    throw;
  }
}

TTlsSession::~TTlsSession() {
  // A fatal error forbids the closing alert; an unfinished handshake has nothing to close.
  if (!FFailed && SSL_is_init_finished(FSsl)) SSL_shutdown(FSsl);
  SSL_free(FSsl);
  SSL_CTX_free(FContext);
  ERR_clear_error();
}

short TTlsSession::Handshake() {
  ERR_clear_error();
  return Outcome(SSL_connect(FSsl));
}

short TTlsSession::Read(std::string& buffer) {
  char chunk[4096];
  std::size_t received = 0;
  ERR_clear_error();
  const int result = SSL_read_ex(FSsl, chunk, sizeof chunk, &received);
  if (result == 1) buffer.append(chunk, received);
  return Outcome(result);
}

short TTlsSession::Write(std::string_view data, std::size_t& written) {
  written = 0;
  ERR_clear_error();
  return Outcome(SSL_write_ex(FSsl, data.data(), data.size(), &written));
}

std::string TTlsSession::Description() const {
  return std::string(SSL_get_version(FSsl)) + ", " + SSL_CIPHER_get_name(SSL_get_current_cipher(FSsl));
}

short TTlsSession::Outcome(int result) {
  const int error = SSL_get_error(FSsl, result);
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
    if (const long verified = SSL_get_verify_result(FSsl); FVerify && verified != X509_V_OK)
      return std::string("certificate verify failed: ") + X509_verify_cert_error_string(verified);
    if (ERR_GET_REASON(ERR_peek_last_error()) == SSL_R_UNEXPECTED_EOF_WHILE_READING) return ClosedByServer;
    return "TLS failed: " + TakeQueuedReason();
  };
  const std::string message = reason();
  ERR_clear_error();
  throw Exception(message);
}

}  // namespace duz
