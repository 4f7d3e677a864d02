#pragma once
// TdpTcpServer: the TCP data server of a DATAPUBLISHER element of type TCPSERVER. Listens on `port`
// (default 10001) on every local IPv4 address; every connected client receives each thermometer
// line unchanged; with `fulldirection`, what a client sends is written to the thermometer's serial
// port. IP children form an allow list, read again at every new connection. A server that cannot be
// set up (bad attribute, port in use, no event loop) stays, never listening.
// Owned by its TKelvo. Constructed, destroyed and driven on the owner thread, whose event loop
// (TEventLoop::Current() at construction) delivers the socket events.
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "core/DataPublisher.h"

namespace duz {

class TTcpClientConnection;

class TdpTcpServer : public TDataPublisher {
 public:
  TdpTcpServer(TKelvo& subservice, pugi::xml_node element);
  ~TdpTcpServer() override;

  void Publish(const std::string& line) override;

  bool IsListening() const { return FListener != nullptr; }
  // The port listened on; 0 when not listening.
  uint16_t Port() const;
  size_t ClientCount() const { return FClients.size(); }

 private:
  struct TListener;

  void Open(uint16_t port);
  void Accept();
  void ServerAccept(const std::shared_ptr<TTcpClientConnection>& client);
  bool IsAllowed(const TTcpClientConnection& client) const;
  void ServerClientRead(TTcpClientConnection& client, const std::string& data);
  void ClientClosed(TTcpClientConnection& client, const std::string& reason);
  std::string LogPrefix() const;

  std::shared_ptr<TListener> FListener;  // shared only so that late completions can see it is gone
  std::vector<std::shared_ptr<TTcpClientConnection>> FClients;
  bool FFullDirection = false;
};

}  // namespace duz
