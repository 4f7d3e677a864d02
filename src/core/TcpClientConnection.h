#pragma once
// TTcpClientConnection: one client of a TdpTcpServer. Lines are queued and written without ever
// waiting for the client. The queue is bounded (MaxQueuedBytes): when a line does not fit, this
// client loses that whole line, so it never receives part of one; a client that stays full for
// MaxStall (by the monotonic clock) is disconnected after the lines already handed to the socket
// are written, or at once when it takes another MaxStall to accept those. A refused client is told
// so, and closed once it has read that: after its own end, or after MaxRefuseLinger.
// Shared by the server and the socket operations in progress, so that a completion arriving after
// Close finds a live object. Every call on the owner loop thread; what the client sends is read into
// that loop's read buffer, and the connection keeps none of its own.
#include <asio/ip/tcp.hpp>
#include <asio/steady_timer.hpp>
#include <chrono>
#include <deque>
#include <functional>
#include <memory>
#include <optional>
#include <span>
#include <string>

#include "base/Clock.h"

namespace duz {

class TEventLoop;

class TTcpClientConnection : public std::enable_shared_from_this<TTcpClientConnection> {
 public:
  static constexpr size_t MaxQueuedBytes = size_t{64} * 1024;
  static constexpr std::chrono::seconds MaxStall{30};
  static constexpr std::chrono::seconds MaxRefuseLinger{1};

  using TReadHandler = std::function<void(TTcpClientConnection& client, const std::string& data)>;
  // reason is empty when the client ended the connection itself.
  using TCloseHandler = std::function<void(TTcpClientConnection& client, const std::string& reason)>;

  TTcpClientConnection(asio::ip::tcp::socket socket, TEventLoop& loop);

  // Starts reading; the handlers run until the connection closes.
  void Start(TReadHandler onRead, TCloseHandler onClose);
  void Send(std::shared_ptr<const std::string> line);
  // For a few bytes on a connection that has been sent nothing yet: sends them, ends the sending
  // side and closes once the client has ended its side (what it sends meanwhile is read and dropped:
  // closing over unread data would reset the connection before the client reads the text), or after
  // MaxRefuseLinger. onClosed runs then, on the loop thread.
  void Refuse(const std::string& text, std::function<void()> onClosed);
  // No handler runs afterwards.
  void Close();

  const asio::ip::tcp::endpoint& Peer() const { return FPeer; }
  // The peer's address in dotted form.
  const std::string& Address() const { return FAddress; }

 private:
  void Read();
  void Readable(std::error_code error);
  void EndRefusal();
  void LineLost();
  void Write();
  void Written(const std::error_code& error);
  void Fail(const std::string& reason);

  asio::ip::tcp::socket FSocket;
  asio::ip::tcp::endpoint FPeer;
  std::string FAddress;
  const std::span<char> FReadBuffer;  // the loop's
  std::deque<std::shared_ptr<const std::string>> FQueue;
  size_t FQueuedBytes = 0;
  size_t FInFlight = 0;                          // lines at the front of FQueue being written
  size_t FFrontOffset = 0;                       // bytes of the first of them sent before
  std::optional<TMonotonicTime> FFullSince;      // the first line lost in the current stall
  std::optional<TMonotonicTime> FCloseDeadline;  // set once the stall lasted too long
  TReadHandler FOnRead;
  TCloseHandler FOnClose;
  asio::steady_timer FLinger;
  std::function<void()> FOnRefused;
};

}  // namespace duz
