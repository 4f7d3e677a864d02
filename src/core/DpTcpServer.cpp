#include "core/DpTcpServer.h"

#include <fcntl.h>

#include <algorithm>
#include <asio/ip/tcp.hpp>
#include <asio/steady_timer.hpp>
#include <optional>

#include "base/EventLoop.h"
#include "base/Exception.h"
#include "base/Text.h"
#include "config/ConfigValues.h"
#include "config/XmlHelpers.h"
#include "core/Kelvo.h"
#include "core/TcpClientConnection.h"
#include "log/Logger.h"
#include "net/AllowList.h"
#include "net/HostNameResolver.h"

namespace duz {

namespace {

using asio::ip::tcp;

// Programs the service starts (network messages, the shutdown command) must not inherit sockets.
void KeepFromChildren(int fd) { fcntl(fd, F_SETFD, fcntl(fd, F_GETFD) | FD_CLOEXEC); }

}  // namespace

struct TdpTcpServer::TListener {
  explicit TListener(TEventLoop& loop) : Loop(loop), Acceptor(loop.Context()), Retry(loop.Context()) {}
  TEventLoop& Loop;
  tcp::acceptor Acceptor;
  asio::steady_timer Retry;
};

// A client that only a name could allow, while its name is being checked.
struct TdpTcpServer::TNameCheck {
  TNameCheck(std::shared_ptr<TTcpClientConnection> client, TAllowList list, asio::io_context& context)
      : Client(std::move(client)), List(std::move(list)), Timer(context) {}
  std::shared_ptr<TTcpClientConnection> Client;
  TAllowList List;
  asio::steady_timer Timer;
  uint64_t Waiter = 0;  // of the resolver
};

TdpTcpServer::TdpTcpServer(TKelvo& subservice, pugi::xml_node element)
    : TDataPublisher(subservice, element), FMaxClients(static_cast<size_t>(MaxClients(element))) {
  if (!element) return;
  const uint16_t port = TcpPort(element);
  try {
    FFullDirection = GetAttrDef(element, "fulldirection", false).ToBool();
    Open(port);
    DebugLog(Subservice().LogPrefix(), "TcpServer created - ",
             IsListening() ? "port:" + std::to_string(Port()) : "not active !");
  } catch (const std::exception& error) {
    FListener.reset();
    DebugLog(Subservice().LogPrefix(), "TcpServer create - ! Exception: ", error.what());
  }
}

TdpTcpServer::~TdpTcpServer() {
  FListener.reset();
  FNameChecks.clear();
  for (const auto& client : FClients) client->Close();
  for (const auto& client : FRefusing) client->Close();
}

void TdpTcpServer::Open(uint16_t port) {
  TEventLoop* loop = TEventLoop::Current();
  if (!loop) return;
  auto listener = std::make_shared<TListener>(*loop);
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
  if (FRefusing.size() >= MaxRefusing) {
    FAcceptPaused = true;  // the connections wait in the kernel's backlog meanwhile
    return;
  }
  std::weak_ptr<TListener> listener = FListener;
  FListener->Acceptor.async_accept([this, listener](const std::error_code& error, tcp::socket socket) {
    if (listener.expired()) return;  // the server is gone
    if (!error) {
      KeepFromChildren(socket.native_handle());
      ServerAccept(std::make_shared<TTcpClientConnection>(std::move(socket), FListener->Loop));
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

// A listed address is decided at once, and a client whose name is being checked waits outside the
// maxclients slots: a flood of clients with slow reverse zones cannot lock out the listed ones.
void TdpTcpServer::ServerAccept(const std::shared_ptr<TTcpClientConnection>& client) {
  TAllowList list(AllowedHosts(Element(), "DATAPUBLISHER"));
  const TIpAddress peer = IpAddressOf(static_cast<const sockaddr*>(client->Peer().data()));
  if (list.AllowsEveryone() || list.AllowsAddress(peer)) return AdmitIfRoom(client);
  if (!list.HasNames()) return Refuse(client, TAllowList::NotListed);
  if (!FResolver) FResolver = std::make_unique<THostNameResolver>(MaxNameChecks, MaxNameChecksPerAddress);
  TTcpClientConnection* key = client.get();
  TEventLoop& loop = FListener->Loop;
  const THostNameResolver::TOutcome outcome = FResolver->Resolve(
      peer, [this, key, &loop, listener = std::weak_ptr(FListener)](const std::string& name) {
        loop.Post([this, key, listener, name] {
          if (!listener.expired()) NameChecked(key, name);
        });
      });
  if (outcome.Cached)
    return list.AllowsName(*outcome.Cached) ? AdmitIfRoom(client) : Refuse(client, TAllowList::NotConfirmed);
  if (!outcome.Waiter) return Refuse(client, TAllowList::TooManyChecks);
  auto check = std::make_unique<TNameCheck>(client, std::move(list), loop.Context());
  check->Waiter = outcome.Waiter;
  check->Timer.expires_after(MaxNameCheck);
  check->Timer.async_wait([this, key](const std::error_code& cancelled) {
    if (!cancelled) NameChecked(key, std::nullopt);
  });
  FNameChecks.emplace(key, std::move(check));
}

void TdpTcpServer::NameChecked(TTcpClientConnection* key, const std::optional<std::string>& name) {
  auto found = FNameChecks.find(key);
  if (found == FNameChecks.end()) return;
  std::unique_ptr<TNameCheck> check = std::move(found->second);
  FNameChecks.erase(found);
  if (!name) {
    FResolver->Cancel(check->Waiter);
    return Refuse(check->Client, TAllowList::NotConfirmedInTime);
  }
  if (check->List.AllowsName(*name))
    AdmitIfRoom(check->Client);
  else
    Refuse(check->Client, TAllowList::NotConfirmed);
}

void TdpTcpServer::AdmitIfRoom(const std::shared_ptr<TTcpClientConnection>& client) {
  if (FClients.size() >= FMaxClients)
    return Refuse(client, "too many clients: " + std::to_string(FClients.size()) + " connected");
  Admit(client);
}

void TdpTcpServer::Admit(const std::shared_ptr<TTcpClientConnection>& client) {
  FClients.push_back(client);
  Subservice().Status().AddTcpClients(1);
  client->Start([this](TTcpClientConnection& c, const std::string& data) { ServerClientRead(c, data); },
                [this](TTcpClientConnection& c, const std::string& reason) { ClientClosed(c, reason); });
  DebugLog(Subservice().LogPrefix(), "> Client socket ", client->Address(), " accept");
}

void TdpTcpServer::Refuse(const std::shared_ptr<TTcpClientConnection>& client, const std::string& reason) {
  DebugLog(Subservice().LogPrefix(), "> Client socket ", client->Address(), " refused - ", reason);
  FRefusing.push_back(client);
  client->Refuse("refused\r", [this, key = client.get()] {
    std::erase_if(FRefusing, [key](const auto& c) { return c.get() == key; });
    if (FAcceptPaused && FListener) {
      FAcceptPaused = false;
      Accept();
    }
  });
}

void TdpTcpServer::ServerClientRead(TTcpClientConnection& client, const std::string& data) {
  if (!FFullDirection) return;
  try {
    Subservice().SendToPort(data);
  } catch (const std::exception& error) {
    // A write error of the serial port loses this data only; the server goes on.
    DebugLog(Subservice().LogPrefix(), "> Client socket ", client.Address(),
             " redirect - ! Exception: ", error.what());
    return;
  }
  DebugLog(Subservice().LogPrefix(), "> Client socket ", client.Address(),
           " redirect data: ", EscapeForLog(data));
}

void TdpTcpServer::ClientClosed(TTcpClientConnection& client, const std::string& reason) {
  if (!reason.empty())
    DebugLog(Subservice().LogPrefix(), "> Client socket ", client.Address(), " closed - ", reason);
  Subservice().Status().AddTcpClients(
      -static_cast<int>(std::erase_if(FClients, [&](const auto& c) { return c.get() == &client; })));
}

void TdpTcpServer::Publish(const std::string& line) {
  if (!FListener) return;
  auto shared = std::make_shared<const std::string>(line);
  // A snapshot: a client that gives up during Send leaves FClients at once.
  for (const auto& client : std::vector(FClients)) client->Send(shared);
}

}  // namespace duz
