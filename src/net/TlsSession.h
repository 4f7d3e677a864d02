#pragma once
// TTlsSession: the client side of one TLS connection over a connected non-blocking socket. Owned by
// the TTcpStream that carries it and used only by that stream's thread. Every operation is one
// non-blocking step that either finishes or names the poll(2) events to wait for before it is
// repeated, so the stream keeps its own deadlines. Failures raise Exception with a text that says
// why; after one the session is unusable and only its destruction remains.
#include <cstddef>
#include <string>
#include <string_view>

struct ssl_ctx_st;
struct ssl_st;

namespace duz {

struct TOpenSslLibrary;

struct TTlsSettings {
  // Checks the server's certificate chain against the system's trust store and CaFile, and its
  // name against ServerName. Without it any certificate is accepted.
  bool Verify = true;
  std::string CaFile;      // a PEM file of extra trusted certificates; empty for none
  std::string ServerName;  // host name or IP address the client was asked to reach
};

class TTlsSession {
 public:
  // Raises when the settings cannot be applied (a CA file that does not load) and when OpenSSL
  // cannot be loaded.
  TTlsSession(int socket, const TTlsSettings& settings);
  // Sends the closing alert when the session is sound, without waiting for the peer's.
  ~TTlsSession();
  TTlsSession(const TTlsSession&) = delete;
  TTlsSession& operator=(const TTlsSession&) = delete;

  // Each returns 0 when the step is done, otherwise the events to wait for.
  short Handshake();
  // Appends at least one decrypted byte; raises when the peer has closed the connection.
  short Read(std::string& buffer);
  // written: the bytes of data taken by this step.
  short Write(std::string_view data, std::size_t& written);

  // The protocol and cipher agreed, for instance "TLSv1.3, TLS_AES_256_GCM_SHA384".
  std::string Description() const;

 private:
  // The events for a step that returned result; raises for everything but a wait.
  short Outcome(int result);

  const TOpenSslLibrary& FOpenSsl;
  ssl_ctx_st* FContext = nullptr;
  ssl_st* FSsl = nullptr;
  bool FVerify;
  bool FFailed = false;
};

}  // namespace duz
