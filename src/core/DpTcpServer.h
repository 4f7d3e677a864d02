#pragma once
// TdpTcpServer: the TCP data server of a DATAPUBLISHER element of type TCPSERVER. Listens on `port`
// (default 10001) on every local IPv4 address; every connected client receives each thermometer
// line unchanged; with `fulldirection`, what a client sends is written to the thermometer's serial
// port. IP children form an allow list (TAllowList), read again at every new connection; a client
// that only a name could allow waits, receiving nothing, while its name is checked off the owner
// thread, at most MaxNameCheck. Such clients hold no slot of `maxclients` (default 64): at most
// MaxNameChecks of them wait at once, MaxNameChecksPerAddress from one address. A client the list
// refuses, one beyond these bounds, and one beyond `maxclients` connected clients reads "refused"
// and a carriage return and is closed; the debug log says why. A port or maxclients that is not a
// number in range is a creation error; a server that cannot otherwise be set up (a bad
// fulldirection, the port in use, no event loop) stays, never listening.
// Owned by its TKelvo. Constructed, destroyed and driven on the owner thread, whose event loop
// (TEventLoop::Current() at construction) delivers the socket events.
#include <chrono>
#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "core/DataPublisher.h"

namespace duz {

class THostNameResolver;
class TTcpClientConnection;

class TdpTcpServer : public TDataPublisher {
 public:
  static constexpr std::chrono::seconds MaxNameCheck{5};
  static constexpr size_t MaxNameChecks = 16;
  static constexpr size_t MaxNameChecksPerAddress = 4;
  // Refused clients waiting to read their answer at once; beyond it, accepting pauses, so that a
  // flood of connections cannot take the descriptors that saves and the log need.
  static constexpr size_t MaxRefusing = 16;

  TdpTcpServer(TKelvo& subservice, pugi::xml_node element);
  ~TdpTcpServer() override;

  void Publish(const std::string& line) override;

  bool IsListening() const { return FListener != nullptr; }
  // The port listened on; 0 when not listening.
  uint16_t Port() const;
  size_t ClientCount() const { return FClients.size(); }

 private:
  struct TListener;
  struct TNameCheck;

  void Open(uint16_t port);
  void Accept();
  void ServerAccept(const std::shared_ptr<TTcpClientConnection>& client);
  // The verified name of a client waiting for it, or nothing when the check took too long.
  void NameChecked(TTcpClientConnection* client, const std::optional<std::string>& name);
  void AdmitIfRoom(const std::shared_ptr<TTcpClientConnection>& client);
  void Admit(const std::shared_ptr<TTcpClientConnection>& client);
  void Refuse(const std::shared_ptr<TTcpClientConnection>& client, const std::string& reason);
  void ServerClientRead(TTcpClientConnection& client, const std::string& data);
  void ClientClosed(TTcpClientConnection& client, const std::string& reason);

  // Owner thread only, as every entry point is.
  std::shared_ptr<TListener> FListener;          // shared only so that late completions can see it is gone
  std::unique_ptr<THostNameResolver> FResolver;  // made for the first name check
  std::vector<std::shared_ptr<TTcpClientConnection>> FClients;
  std::map<TTcpClientConnection*, std::unique_ptr<TNameCheck>> FNameChecks;
  std::vector<std::shared_ptr<TTcpClientConnection>> FRefusing;
  bool FAcceptPaused = false;
  bool FFullDirection = false;
  const size_t FMaxClients;
};

}  // namespace duz
