#pragma once
// TTcpClientConnection: one client of a TdpTcpServer. Lines are queued and written without ever
// waiting for the client. The queue is bounded (MaxQueuedBytes): when a line does not fit, this
// client loses that whole line, so it never receives part of one; a client that stays full for
// MaxStallSeconds (by duz::Now()) is disconnected after the lines already handed to the socket are
// written, or at once when it takes another MaxStallSeconds to accept those.
// Shared by the server and the socket operations in progress, so that a completion arriving after
// Close finds a live object. Every call on the owner loop thread.
#include <array>
#include <asio/ip/tcp.hpp>
#include <deque>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "base/DateTime.h"

namespace duz {

class TTcpClientConnection : public std::enable_shared_from_this<TTcpClientConnection> {
 public:
  static constexpr size_t MaxQueuedBytes = 64 * 1024;
  static constexpr double MaxStallSeconds = 30;

  using TReadHandler = std::function<void(TTcpClientConnection& client, const std::string& data)>;
  // reason is empty when the client ended the connection itself.
  using TCloseHandler = std::function<void(TTcpClientConnection& client, const std::string& reason)>;

  explicit TTcpClientConnection(asio::ip::tcp::socket socket);

  // Starts reading; the handlers run until the connection closes.
  void Start(TReadHandler onRead, TCloseHandler onClose);
  void Send(std::shared_ptr<const std::string> line);
  // For a few bytes on a connection that has sent nothing yet, whose socket buffer is empty.
  void SendAndClose(const std::string& text);
  // No handler runs afterwards.
  void Close();

  const asio::ip::tcp::endpoint& Peer() const { return FPeer; }
  // The peer's address in dotted form.
  const std::string& Address() const { return FAddress; }

 private:
  void Read();
  void LineLost();
  void Write();
  void Written(const std::error_code& error);
  void Fail(const std::string& reason);

  asio::ip::tcp::socket FSocket;
  asio::ip::tcp::endpoint FPeer;
  std::string FAddress;
  std::array<char, 4096> FReadBuffer{};
  std::deque<std::shared_ptr<const std::string>> FQueue;
  size_t FQueuedBytes = 0;
  size_t FInFlight = 0;                     // lines at the front of FQueue being written
  size_t FFrontOffset = 0;                  // bytes of the first of them sent before
  std::optional<TDateTime> FFullSince;      // the first line lost in the current stall
  std::optional<TDateTime> FCloseDeadline;  // set once the stall lasted too long
  TReadHandler FOnRead;
  TCloseHandler FOnClose;
};

}  // namespace duz
