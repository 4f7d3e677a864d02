#include "core/TcpServer.h"

#include <fcntl.h>
#include <netdb.h>

#include <algorithm>
#include <asio/ip/tcp.hpp>
#include <asio/steady_timer.hpp>
#include <cctype>

#include "base/DebugMode.h"
#include "base/EventLoop.h"
#include "base/Exception.h"
#include "base/UpperCase.h"
#include "core/Kelvo.h"
#include "core/TcpClientConnection.h"
#include "log/Logger.h"
#include "xml/XmlHelpers.h"

namespace duz {

namespace {

using asio::ip::tcp;

// Programs the service starts (network messages, the shutdown command) must not inherit sockets.
void KeepFromChildren(int fd) { fcntl(fd, F_SETFD, fcntl(fd, F_GETFD) | FD_CLOEXEC); }

// The peer's name by reverse lookup; empty when it has none. Blocks the owner thread meanwhile.
std::string ReverseLookup(const tcp::endpoint& peer) {
  char host[NI_MAXHOST];
  if (getnameinfo(static_cast<const sockaddr*>(peer.data()), static_cast<socklen_t>(peer.size()), host,
                  sizeof host, nullptr, 0, NI_NAMEREQD) != 0)
    return "";
  return host;
}

}  // namespace

struct TdpTcpServer::TListener {
  explicit TListener(asio::io_context& context) : Acceptor(context), Retry(context) {}
  tcp::acceptor Acceptor;
  asio::steady_timer Retry;
};

TdpTcpServer::TdpTcpServer(TKelvo& subservice, pugi::xml_node element) : TDataPublisher(subservice, element) {
  if (!element) return;
  try {
    int64_t port = GetAttrDef(element, "port", 10001).ToInt();
    if (port < 0 || port > 65535) throw ERangeError("Port " + std::to_string(port) + " is out of range");
    FFullDirection = GetAttrDef(element, "fulldirection", false).ToBool();
    Open(static_cast<uint16_t>(port));
    if (DebugMode)
      WriteLog(IsListening() ? LogPrefix() + "TcpServer created - port:" + std::to_string(Port())
                             : LogPrefix() + "TcpServer created - not active !");
  } catch (const std::exception& error) {
    FListener.reset();
    if (DebugMode) WriteLog(LogPrefix() + "TcpServer create - ! Exception: " + error.what());
  }
}

TdpTcpServer::~TdpTcpServer() {
  FListener.reset();
  for (const auto& client : FClients) client->Close();
}

void TdpTcpServer::Open(uint16_t port) {
  TEventLoop* loop = TEventLoop::Current();
  if (!loop) return;
  auto listener = std::make_shared<TListener>(loop->Context());
  tcp::endpoint endpoint(asio::ip::address_v4::any(), port);
  listener->Acceptor.open(endpoint.protocol());
  KeepFromChildren(listener->Acceptor.native_handle());
  // A restart must not fail on connections of the previous run in TIME_WAIT; a port that another
  // socket listens on still fails on Linux.
  listener->Acceptor.set_option(tcp::acceptor::reuse_address(true));
  listener->Acceptor.bind(endpoint);
  listener->Acceptor.listen();
  FListener = std::move(listener);
  Accept();
}

uint16_t TdpTcpServer::Port() const {
  std::error_code error;
  return FListener ? FListener->Acceptor.local_endpoint(error).port() : 0;
}

void TdpTcpServer::Accept() {
  std::weak_ptr<TListener> listener = FListener;
  FListener->Acceptor.async_accept([this, listener](const std::error_code& error, tcp::socket socket) {
    if (listener.expired()) return;  // the server is gone
    if (!error) {
      KeepFromChildren(socket.native_handle());
      ServerAccept(std::make_shared<TTcpClientConnection>(std::move(socket)));
      Accept();
      return;
    }
    // Out of descriptors, for example: try again a little later instead of spinning.
    FListener->Retry.expires_after(std::chrono::milliseconds(100));
    FListener->Retry.async_wait([this, listener](const std::error_code& cancelled) {
      if (!cancelled && !listener.expired()) Accept();
    });
  });
}

void TdpTcpServer::ServerAccept(const std::shared_ptr<TTcpClientConnection>& client) {
  if (!IsAllowed(*client)) {
    if (DebugMode) WriteLog(LogPrefix() + "> Client socket " + client->Address() + " refused");
    client->SendAndClose("refused\r");
    return;
  }
  FClients.push_back(client);
  Subservice().Status().AddTcpClients(1);
  client->Start([this](TTcpClientConnection& c, const std::string& data) { ServerClientRead(c, data); },
                [this](TTcpClientConnection& c, const std::string& reason) { ClientClosed(c, reason); });
  if (DebugMode) WriteLog(LogPrefix() + "> Client socket " + client->Address() + " accept");
}

bool TdpTcpServer::IsAllowed(const TTcpClientConnection& client) const {
  bool listed = false;
  std::optional<std::string> hostName;  // looked up once, and only when an entry needs it
  for (pugi::xml_node entry : Element().children()) {
    if (entry.type() != pugi::node_element || UpperCase(entry.name()) != "IP") continue;
    listed = true;
    std::string host = UpperCase(GetAttrDef(entry, "host", "~").ToString());
    if (!hostName) hostName = UpperCase(ReverseLookup(client.Peer()));
    if (host == *hostName || host == UpperCase(client.Address())) return true;
  }
  return !listed;
}

void TdpTcpServer::ServerClientRead(TTcpClientConnection& client, const std::string& data) {
  if (!FFullDirection) return;
  try {
    Subservice().SendToPort(data);
  } catch (const std::exception& error) {
    // A write error of the serial port loses this data only; the server goes on.
    if (DebugMode)
      WriteLog(LogPrefix() + "> Client socket " + client.Address() +
               " redirect - ! Exception: " + error.what());
    return;
  }
  if (DebugMode)
    WriteLog(LogPrefix() + "> Client socket " + client.Address() + " redirect data: " + EscapeForLog(data));
}

void TdpTcpServer::ClientClosed(TTcpClientConnection& client, const std::string& reason) {
  if (!reason.empty() && DebugMode)
    WriteLog(LogPrefix() + "> Client socket " + client.Address() + " closed - " + reason);
  Subservice().Status().AddTcpClients(
      -static_cast<int>(std::erase_if(FClients, [&](const auto& c) { return c.get() == &client; })));
}

void TdpTcpServer::Publish(const std::string& line) {
  if (!FListener) return;
  auto shared = std::make_shared<const std::string>(line);
  // A snapshot: a client that gives up during Send leaves FClients at once.
  for (const auto& client : std::vector(FClients)) client->Send(shared);
}

std::string TdpTcpServer::LogPrefix() const { return "[" + Subservice().GetCaption() + "] "; }

}  // namespace duz
