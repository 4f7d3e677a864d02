#include "core/TcpClientConnection.h"

#include <asio/write.hpp>
#include <vector>

#include "base/Clock.h"
#include "base/EventLoop.h"

namespace duz {

namespace {
const char* const StalledReason = "queue full for 30 s";
}

TTcpClientConnection::TTcpClientConnection(asio::ip::tcp::socket socket, TEventLoop& loop)
    : FSocket(std::move(socket)), FReadBuffer(loop.ReadBuffer()), FLinger(FSocket.get_executor()) {
  std::error_code error;
  FPeer = FSocket.remote_endpoint(error);
  FAddress = FPeer.address().to_string();
  FSocket.non_blocking(true, error);
  // The kernel's share of a stalled client stays small too, instead of growing to megabytes.
  FSocket.set_option(asio::socket_base::send_buffer_size(MaxQueuedBytes), error);
}

void TTcpClientConnection::Start(TReadHandler onRead, TCloseHandler onClose) {
  FOnRead = std::move(onRead);
  FOnClose = std::move(onClose);
  Read();
}

// Waits for the bytes before reading them, so that no buffer is held while the client is silent.
void TTcpClientConnection::Read() {
  FSocket.async_wait(asio::socket_base::wait_read,
                     [self = shared_from_this()](const std::error_code& error) { self->Readable(error); });
}

void TTcpClientConnection::Readable(std::error_code error) {
  const bool refusing = FOnRefused != nullptr;
  if (!FOnClose && !refusing) return;  // closed meanwhile
  size_t size = 0;
  if (!error) size = FSocket.read_some(asio::buffer(FReadBuffer.data(), FReadBuffer.size()), error);
  if (error == asio::error::would_block) return Read();
  // What a refused client sends is dropped; its end, or a reset, ends the refusal.
  if (refusing) return error ? EndRefusal() : Read();
  // The end of the stream, a reset, any read error: the client is gone.
  if (error) return Fail("");
  TReadHandler onRead = FOnRead;  // the handler may close the client
  onRead(*this, std::string(FReadBuffer.data(), size));
  if (FOnClose) Read();
}

void TTcpClientConnection::Send(std::shared_ptr<const std::string> line) {
  if (!FOnClose) return;
  if (FCloseDeadline) {
    if (MonotonicNow() >= *FCloseDeadline) Fail(StalledReason);
    return;
  }
  if (FQueuedBytes + line->size() > MaxQueuedBytes) return LineLost();
  FFullSince.reset();
  if (!FQueue.empty()) {
    FQueuedBytes += line->size();
    FQueue.push_back(std::move(line));
    return;
  }
  // Most lines go out at once, without an asynchronous write and its completion.
  std::error_code error;
  size_t written = FSocket.send(asio::buffer(*line), 0, error);
  if (error && error != asio::error::would_block) return Fail("send error - " + error.message());
  if (written == line->size()) return;
  FQueuedBytes += line->size();
  FQueue.push_back(std::move(line));
  FFrontOffset = written;
  Write();
}

void TTcpClientConnection::LineLost() {
  const TMonotonicTime now = MonotonicNow();
  if (!FFullSince) {
    FFullSince = now;
  } else if (now - *FFullSince >= MaxStall) {
    // The lines handed to the socket are finished first, so that the client ends on a whole line.
    FQueue.resize(FInFlight);
    if (FQueue.empty()) return Fail(StalledReason);
    FCloseDeadline = now + MaxStall;
  }
}

void TTcpClientConnection::Write() {
  std::vector<asio::const_buffer> buffers;
  buffers.reserve(FQueue.size());
  for (const auto& line : FQueue) buffers.push_back(asio::buffer(*line));
  buffers.front() += FFrontOffset;
  FInFlight = FQueue.size();
  asio::async_write(FSocket, buffers, [self = shared_from_this()](const std::error_code& error, size_t) {
    self->Written(error);
  });
}

void TTcpClientConnection::Written(const std::error_code& error) {
  if (!FOnClose) return;
  if (error) return Fail("send error - " + error.message());
  for (; FInFlight > 0; --FInFlight) {
    FQueuedBytes -= FQueue.front()->size();
    FQueue.pop_front();
  }
  FFrontOffset = 0;
  if (!FQueue.empty())
    Write();
  else if (FCloseDeadline)
    Fail(StalledReason);
}

void TTcpClientConnection::Refuse(const std::string& text, std::function<void()> onClosed) {
  std::error_code error;
  FSocket.send(asio::buffer(text), 0, error);
  FSocket.shutdown(asio::socket_base::shutdown_send, error);
  FOnRefused = std::move(onClosed);
  FLinger.expires_after(MaxRefuseLinger);
  FLinger.async_wait([self = shared_from_this()](const std::error_code& cancelled) {
    if (!cancelled) self->EndRefusal();
  });
  Read();
}

void TTcpClientConnection::EndRefusal() {
  std::function<void()> onRefused = std::move(FOnRefused);
  Close();
  if (onRefused) onRefused();
}

void TTcpClientConnection::Close() {
  FOnRead = nullptr;
  FOnClose = nullptr;
  FOnRefused = nullptr;
  FLinger.cancel();
  std::error_code error;
  FSocket.close(error);
}

void TTcpClientConnection::Fail(const std::string& reason) {
  TCloseHandler onClose = std::move(FOnClose);
  Close();
  if (onClose) onClose(*this, reason);
}

}  // namespace duz
