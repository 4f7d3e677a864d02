// The TCP data server of the real program: an allow list checked against a private hosts file and
// against a name server that never answers, and a flood of clients against the client limit under a
// low open-file limit while saves go on.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>

#include "e2e/DebugProgram.h"
#include "support/PrivateMounts.h"

namespace duz {
namespace {

using namespace std::chrono_literals;

// A client from a loopback address of the test's choice: all of 127/8 is this machine.
class TClient {
 public:
  TClient(const std::string& from, int port) : FFd(socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0)) {
    sockaddr_in address{};
    address.sin_family = AF_INET;
    inet_pton(AF_INET, from.c_str(), &address.sin_addr);
    if (bind(FFd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0)
      throw std::runtime_error("bind");
    address.sin_port = htons(static_cast<uint16_t>(port));
    inet_pton(AF_INET, "127.0.0.1", &address.sin_addr);
    if (connect(FFd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0)
      throw std::runtime_error("connect");
  }
  ~TClient() { close(FFd); }

  // Reads what arrives until the server ends the connection, at least bytes have come, or the
  // time runs out; true when the server ended it.
  bool Read(std::chrono::milliseconds timeout, size_t bytes = SIZE_MAX) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (Data.size() < bytes) {
      const auto left =
          std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
      pollfd entry{FFd, POLLIN, 0};
      if (left.count() <= 0 || poll(&entry, 1, static_cast<int>(left.count())) <= 0) return false;
      char buffer[4096];
      const ssize_t n = recv(FFd, buffer, sizeof buffer, 0);
      if (n <= 0) return true;
      Data.append(buffer, static_cast<size_t>(n));
    }
    return false;
  }

  std::string Data;

 private:
  int FFd;
};

class DataServerTest : public ::testing::Test {
 protected:
  // Starts the program with a TCP server on a port of the system's choice; returns that port.
  int StartServer(const std::string& publisher, const std::string& extra = "",
                  std::map<std::string, std::string> env = {}, const std::vector<std::string>& prefix = {}) {
    EXPECT_TRUE(FProgram.Start(
        "<config><KELVO comport=\"1\" caption=\"Room\">" + publisher + extra + "</KELVO></config>", env,
        prefix));
    const std::string out = FProgram.Program->Stdout();
    const std::string created = "TcpServer created - port:";
    const size_t at = out.find(created);
    if (at == std::string::npos) {
      ADD_FAILURE() << "no server: " << out;
      return 0;
    }
    return std::atoi(out.c_str() + at + created.size());
  }
  bool Logged(const std::string& text) { return FProgram.Program->WaitForOutput(text, 10s); }

  test::TDebugProgram FProgram;
};

TEST_F(DataServerTest, AllowListTakesAddressesOnlyAsAddressesAndNamesOnlyWhenTheyResolveBack) {
  if (!test::PrivateMountsAvailable()) GTEST_SKIP() << "no mount namespace can be made here (needs root)";
  test::TTempDir& dir = FProgram.Dir;
  // 127.0.0.2 calls itself "10.9.9.9"; 127.0.0.4 calls itself trusted.example, whose one address is
  // 127.0.0.3 ("multi off": a name gives its first address only).
  dir.Write("hosts", "127.0.0.2 10.9.9.9\n127.0.0.3 trusted.example\n127.0.0.4 trusted.example\n");
  dir.Write("host.conf", "multi off\n");
  dir.Write("nsswitch.conf", "hosts: files\n");
  const std::string setup = "mount --bind '" + dir.File("hosts") + "' /etc/hosts\nmount --bind '" +
                            dir.File("host.conf") + "' /etc/host.conf\nmount --bind '" +
                            dir.File("nsswitch.conf") + "' /etc/nsswitch.conf";
  const int port = StartServer(
      R"(<DATAPUBLISHER type="TCPSERVER" port="0"><IP host="10.9.9.9"/><IP host="TRUSTED.Example"/></DATAPUBLISHER>)",
      "", {}, test::InPrivateMounts(setup, {}));
  ASSERT_NE(port, 0);

  TClient trusted("127.0.0.3", port);
  ASSERT_TRUE(Logged("> Client socket 127.0.0.3 accept"));
  for (const char* from : {"127.0.0.2", "127.0.0.4", "127.0.0.1"}) {
    TClient other(from, port);
    EXPECT_TRUE(other.Read(5s)) << from << " was not disconnected";
    EXPECT_EQ(other.Data, "refused\r") << from;
  }
  FProgram.Pty.Write("*B1E1+021.0C\r");
  trusted.Read(5s, 8);
  EXPECT_EQ(trusted.Data, "+021.0C\r");
}

// Clients that only a name could let in, whose name server never answers, wait outside the client
// slots (at most four from one address), each for five seconds: a listed client is admitted and
// served meanwhile, even with every slot but its own taken by them.
TEST_F(DataServerTest, PendingNameChecksTakeNoClientSlotAndHoldUpNoListedClient) {
  if (!test::PrivateMountsAvailable()) GTEST_SKIP() << "no mount namespace can be made here (needs root)";
  // A name server that takes every question and answers none.
  const int silent = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
  const struct TCloser {
    int Fd;
    ~TCloser() { close(Fd); }
  } closer{silent};
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(53);
  inet_pton(AF_INET, "127.0.0.77", &address.sin_addr);
  if (bind(silent, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0)
    GTEST_SKIP() << "port 53 of 127.0.0.77 cannot be had here";
  test::TTempDir& dir = FProgram.Dir;
  dir.Write("hosts", "127.0.0.1 localhost\n");
  dir.Write("nsswitch.conf", "hosts: files dns\n");
  dir.Write("resolv.conf", "nameserver 127.0.0.77\noptions timeout:30 attempts:1\n");
  std::string setup;
  for (const char* name : {"hosts", "nsswitch.conf", "resolv.conf"})
    setup += "mount --bind '" + dir.File(name) + "' /etc/" + name + "\n";
  const int port = StartServer(
      R"(<DATAPUBLISHER type="TCPSERVER" port="0" maxclients="1"><IP host="127.0.0.3"/><IP host="far.example"/></DATAPUBLISHER>)",
      "", {}, test::InPrivateMounts(setup, {}));
  ASSERT_NE(port, 0);

  std::vector<std::unique_ptr<TClient>> waiting;  // their look-ups hang
  for (const char* from : {"127.0.0.5", "127.0.0.5", "127.0.0.5", "127.0.0.5", "127.0.0.6"})
    waiting.push_back(std::make_unique<TClient>(from, port));
  TClient fifth("127.0.0.5", port);
  EXPECT_TRUE(fifth.Read(5s));
  EXPECT_EQ(fifth.Data, "refused\r");
  EXPECT_TRUE(Logged("> Client socket 127.0.0.5 refused - too many pending name checks"));
  TClient listed("127.0.0.3", port);
  ASSERT_TRUE(Logged("> Client socket 127.0.0.3 accept")) << "a pending check took its slot";
  TClient beyond("127.0.0.3", port);
  EXPECT_TRUE(beyond.Read(5s));
  EXPECT_TRUE(Logged("> Client socket 127.0.0.3 refused - too many clients: 1 connected"));
  FProgram.Pty.Write("*B1E1+021.0C\r");
  listed.Read(5s, 8);
  EXPECT_EQ(listed.Data, "+021.0C\r");
  for (auto& client : waiting) {
    EXPECT_TRUE(client->Read(10s)) << "still waiting for its name";
    EXPECT_EQ(client->Data, "refused\r") << "a client being checked gets no lines";
  }
  EXPECT_TRUE(Logged("> Client socket 127.0.0.6 refused - name not confirmed in time"));
}

TEST_F(DataServerTest, HundredClientsMeetTheLimitOfSixtyFourWhileSavesGoOnUnderALowOpenFileLimit) {
  // About ten descriptors of its own, 64 clients, 16 refused ones at most and a save fit in; 100
  // clients do not.
  const std::string saves = FProgram.Dir.File("saves/");
  const int port =
      StartServer(R"(<DATAPUBLISHER type="TCPSERVER" port="0"/>)",
                  "<SAVE type=\"TXT\" interval=\"0\" filename=\"saved\" directory=\"" + saves + "\"/>",
                  {{"DUZEZEVOVIVO_FIRST_TICK", "1"}}, {"prlimit", "--nofile=104:104", "--"});
  ASSERT_NE(port, 0);
  std::vector<std::unique_ptr<TClient>> clients;
  for (int i = 0; i < 100; ++i) clients.push_back(std::make_unique<TClient>("127.0.0.1", port));
  ASSERT_TRUE(test::WaitUntil(
      [&] {
        const std::string out = FProgram.Program->Stdout();
        size_t accepted = 0;
        for (size_t at = 0; (at = out.find(" accept\n", at)) != std::string::npos; ++at) ++accepted;
        return accepted == 64;
      },
      10s));
  FProgram.Pty.Write("*B1E1+021.0C\r");
  int lines = 0, refusals = 0;
  for (auto& client : clients) {
    client->Read(5s, 8);
    lines += client->Data == "+021.0C\r";
    refusals += client->Data == "refused\r";
  }
  EXPECT_EQ(lines, 64);
  EXPECT_EQ(refusals, 36);
  // A save on every tick, from 1 s after the start: three more while the clients are held.
  auto saved = [&] {
    const std::string text = test::ReadFile(saves + "saved.txt");
    return std::count(text.begin(), text.end(), '\n');
  };
  const auto before = saved();
  EXPECT_TRUE(test::WaitUntil([&] { return saved() >= before + 3; }, 10s)) << FProgram.Program->Stdout();
  EXPECT_EQ(FProgram.Program->Stdout().find("! Exception"), std::string::npos) << FProgram.Program->Stdout();
}

}  // namespace
}  // namespace duz
