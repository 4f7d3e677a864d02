#include "core/DpTcpServer.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netdb.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <asio/io_context.hpp>
#include <cctype>
#include <memory>

#include "base/Clock.h"
#include "base/EventLoop.h"
#include "base/Exception.h"
#include "core/Kelvo.h"
#include "core/KelvoPlatform.h"
#include "core/TcpClientConnection.h"
#include "support/LoopbackServer.h"
#include "support/TcpClient.h"
#include "support/ThermometerRig.h"

namespace duz {
namespace {

using namespace std::chrono_literals;

using TClient = test::TTcpClient;

// The reverse-lookup name of 127.0.0.1 on this machine, or "".
std::string LoopbackName() {
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  char host[NI_MAXHOST];
  if (getnameinfo(reinterpret_cast<sockaddr*>(&address), sizeof address, host, sizeof host, nullptr, 0,
                  NI_NAMEREQD) != 0)
    return "";
  return host;
}

std::string Replace(std::string text, const std::string& from, const std::string& to) {
  for (size_t at; (at = text.find(from)) != std::string::npos;) text.replace(at, from.size(), to);
  return text;
}

class DpTcpServerTest : public ::testing::Test, protected test::TThermometerRig {
 protected:
  DpTcpServerTest() { CreatePlatform(false); }

  // A subservice on the pseudo-terminal (comport 1) or on a missing device (comport 9) with the
  // given DATAPUBLISHER elements.
  TKelvo* Make(const std::string& publishers, int comport = 1) {
    return FKelvo = new TKelvo(*FPlatform, Parse("<Kelvo caption=\"Room\" comport=\"" +
                                                 std::to_string(comport) + "\">" + publishers + "</Kelvo>"));
  }
  TdpTcpServer& Server(int index = 0) {
    for (int i = 0; i < FKelvo->ComponentCount(); ++i)
      if (auto* server = dynamic_cast<TdpTcpServer*>(FKelvo->Component(i)); server && index-- == 0)
        return *server;
    throw std::runtime_error("no such server");
  }
  std::unique_ptr<TClient> Connect(TdpTcpServer& server, int receiveBuffer = 0) {
    size_t before = server.ClientCount();
    auto client = std::make_unique<TClient>(server.Port(), receiveBuffer);
    EXPECT_TRUE(Until([&] { return server.ClientCount() > before; })) << "the client was not accepted";
    return client;
  }
  bool Until(const std::function<bool()>& done, std::chrono::milliseconds timeout = 3000ms) {
    return FLoop.RunUntil(done, timeout);
  }
  // Reads until the client is disconnected; true when it read exactly the refusal.
  bool Refused(TClient& client, std::chrono::milliseconds timeout = 3000ms) {
    Until(
        [&] {
          client.Poll();
          return client.Ended;
        },
        timeout);
    EXPECT_FALSE(client.Reset) << "the connection was reset";
    return client.Ended && client.Data == "refused\r";
  }
  bool Receive(TClient& client, const std::string& expected) {
    return Until([&] {
             client.Poll();
             return client.Data.size() >= expected.size() || client.Ended;
           }) &&
           client.Data == expected;
  }

  TKelvo* FKelvo = nullptr;
};

TEST_F(DpTcpServerTest, EveryConnectedClientReceivesEveryThermometerLineUnchanged) {
  Make(R"(<DataPublisher type="TcpServer" port="0"/>)");
  auto first = Connect(Server());
  auto second = Connect(Server());
  FPty.Write("*B1E1+021.0C\r+02");
  ASSERT_TRUE(Receive(*first, "+021.0C\r"));
  FPty.Write("2.5C\r");
  EXPECT_TRUE(Receive(*first, "+021.0C\r+022.5C\r"));
  EXPECT_TRUE(Receive(*second, "+021.0C\r+022.5C\r"));
}

struct TAllowCase {
  const char* Label;
  const char* Entries;  // NAME stands for the upper-cased reverse-lookup name of 127.0.0.1
  bool Accepted;
};

// Test names show the label, not the bytes of the case.
void PrintTo(const TAllowCase& c, std::ostream* os) { *os << c.Label; }

class DpTcpServerAllowTest : public DpTcpServerTest, public ::testing::WithParamInterface<TAllowCase> {};

TEST_P(DpTcpServerAllowTest, AllowListAcceptsOnlyMatchingClientsAndTellsTheOthers) {
  const TAllowCase& c = GetParam();
  std::string entries = c.Entries;
  if (entries.find("NAME") != std::string::npos) {
    std::string name = LoopbackName();
    if (name.empty()) GTEST_SKIP() << "127.0.0.1 has no name here";
    std::transform(name.begin(), name.end(), name.begin(), [](unsigned char ch) { return std::toupper(ch); });
    entries = Replace(entries, "NAME", name);
  }

  Make(R"(<DataPublisher type="TCPSERVER" port="0">)" + entries + "</DataPublisher>");
  TClient client(Server().Port());
  if (c.Accepted) {
    ASSERT_TRUE(Until([&] { return Server().ClientCount() == 1; }));
    Server().Publish("+020.0C\r");
    EXPECT_TRUE(Receive(client, "+020.0C\r"));
    EXPECT_FALSE(client.Ended);
  } else {
    EXPECT_TRUE(Refused(client)) << client.Data;
    EXPECT_EQ(Server().ClientCount(), 0u);
  }
}

INSTANTIATE_TEST_SUITE_P(
    Entries, DpTcpServerAllowTest,
    ::testing::Values(TAllowCase{"no list", "", true},
                      TAllowCase{"address listed", R"(<IP host="127.0.0.1"/>)", true},
                      TAllowCase{"other address only", R"(<IP host="10.1.2.3"/>)", false},
                      TAllowCase{"later entry, lower-case element",
                                 R"(<IP host="10.1.2.3"/><ip host="127.0.0.1"/>)", true},
                      TAllowCase{"name in another case", R"(<IP host="NAME"/>)", true},
                      TAllowCase{"IPv4 client as an IPv6 literal", R"(<IP host="::ffff:127.0.0.1"/>)", true},
                      TAllowCase{"entry without host", R"(<IP/>)", false},
                      TAllowCase{"empty host matches no nameless client", R"(<IP host=""/>)", false},
                      TAllowCase{"name that is not the client's", R"(<IP host="nobody.invalid"/>)", false},
                      TAllowCase{"other children are no list", R"(<Comment host="10.1.2.3"/>)", true}),
    [](const auto& row) {
      std::string label = row.param.Label;
      std::replace_if(
          label.begin(), label.end(), [](char ch) { return !std::isalnum(static_cast<unsigned char>(ch)); },
          '_');
      return label;
    });

struct TDirectionCase {
  const char* Label;
  const char* Attribute;
  bool Forwarded;
};

// Test names show the label, not the bytes of the case.
void PrintTo(const TDirectionCase& c, std::ostream* os) { *os << c.Label; }

class DpTcpServerDirectionTest : public DpTcpServerTest,
                                 public ::testing::WithParamInterface<TDirectionCase> {};

TEST_P(DpTcpServerDirectionTest, ClientDataReachesTheSerialPortOnlyWithFullDirection) {
  const TDirectionCase& c = GetParam();
  Make(std::string(R"(<DataPublisher type="TcpServer" port="0" )") + c.Attribute + "/>");
  auto client = Connect(Server());
  client->Send("*B1E1\r");
  std::string atDevice;
  Until(
      [&] {
        atDevice += FPty.Read(0ms);
        return atDevice.size() >= 6;
      },
      c.Forwarded ? 3000ms : 300ms);
  EXPECT_EQ(atDevice, c.Forwarded ? "*B1E1\r" : "");
  Server().Publish("+020.0C\r");
  EXPECT_TRUE(Receive(*client, "+020.0C\r")) << "the client stays connected";
}

INSTANTIATE_TEST_SUITE_P(Values, DpTcpServerDirectionTest,
                         ::testing::Values(TDirectionCase{"one", R"(fulldirection="1")", true},
                                           TDirectionCase{"True", R"(fulldirection="True")", true},
                                           TDirectionCase{"zero", R"(fulldirection="0")", false},
                                           TDirectionCase{"false", R"(fulldirection="FALSE")", false},
                                           TDirectionCase{"absent", "", false}),
                         [](const auto& row) { return std::string(row.param.Label); });

TEST_F(DpTcpServerTest, ClientDataForAClosedSerialPortIsSwallowed) {
  Make(R"(<DataPublisher type="TcpServer" port="0" fulldirection="true"/>)", 9);
  auto client = Connect(Server());
  client->Send("hello\r");
  Server().Publish("+020.0C\r");
  EXPECT_TRUE(Receive(*client, "+020.0C\r"));
  EXPECT_EQ(Server().ClientCount(), 1u);
}

struct TBrokenCase {
  const char* Label;
  const char* Attributes;  // BUSY stands for a port another socket listens on
};

// Test names show the label, not the bytes of the case.
void PrintTo(const TBrokenCase& c, std::ostream* os) { *os << c.Label; }

class DpTcpServerBrokenTest : public DpTcpServerTest, public ::testing::WithParamInterface<TBrokenCase> {};

TEST_P(DpTcpServerBrokenTest, ServerThatCannotBeSetUpNeverListensAndTheRestGoesOn) {
  const int blocker = test::BoundSocket();  // keeps a port busy
  listen(blocker, 1);
  std::string attributes = Replace(GetParam().Attributes, "BUSY", std::to_string(test::PortOf(blocker)));
  Make(R"(<DataPublisher type="TcpServer" )" + attributes +
       R"(/><DataPublisher type="TcpServer" port="0"/>)");
  EXPECT_FALSE(Server(0).IsListening());
  EXPECT_EQ(Server(0).Port(), 0);
  Server(0).Publish("+019.0C\r");  // sends nothing, fails nothing
  auto client = Connect(Server(1));
  FPty.Write("+023.0C\r");
  EXPECT_TRUE(Receive(*client, "+023.0C\r"));
  EXPECT_FLOAT_EQ(FKelvo->Temperature(), 23.0f);
  close(blocker);
}

INSTANTIATE_TEST_SUITE_P(Errors, DpTcpServerBrokenTest,
                         ::testing::Values(TBrokenCase{"port_in_use", R"(port="BUSY")"},
                                           TBrokenCase{"fulldirection_yes",
                                                       R"(port="0" fulldirection="yes")"}),
                         [](const auto& row) { return std::string(row.param.Label); });

TEST_F(DpTcpServerTest, PortOrMaxClientsThatIsNotANumberInRangeFailsTheThermometer) {
  const struct {
    const char* Attributes;
    const char* Message;
  } rows[] = {
      {R"(port="http")", "port \"http\" is not a whole number"},
      {R"(port="70000")", "port 70000 is out of range (0 to 65535)"},
      {R"(port="0" maxclients="0")", "maxclients 0 is out of range (1 to 1000)"},
      {R"(port="0" maxclients="1001")", "maxclients 1001 is out of range (1 to 1000)"},
  };
  for (const auto& row : rows) {
    try {
      Make(std::string(R"(<DataPublisher type="TcpServer" )") + row.Attributes + "/>");
      ADD_FAILURE() << row.Attributes << ": created";
    } catch (const Exception& error) {
      EXPECT_STREQ(error.what(), row.Message);
    }
  }
}

TEST_F(DpTcpServerTest, ClientsBeyondMaxClientsReadRefusedUntilOneLeaves) {
  Make(R"(<DataPublisher type="TcpServer" port="0" maxclients="2"/>)");
  auto first = Connect(Server());
  auto second = Connect(Server());
  TClient third(Server().Port());
  EXPECT_TRUE(Refused(third)) << third.Data;
  first->Close();
  ASSERT_TRUE(Until([&] { return Server().ClientCount() == 1; }));
  auto fourth = Connect(Server());
  Server().Publish("+020.0C\r");
  EXPECT_TRUE(Receive(*fourth, "+020.0C\r"));
}

TEST_F(DpTcpServerTest, RefusedClientReadsItsAnswerEvenWhenItSentDataAndNeverCloses) {
  Make(R"(<DataPublisher type="TcpServer" port="0"><IP host="10.1.2.3"/></DataPublisher>)");
  TClient client(Server().Port());
  client.Send(std::string(100000, 'x'));  // unread data makes a plain close reset the connection
  const auto start = std::chrono::steady_clock::now();
  EXPECT_TRUE(Refused(client)) << client.Data;
  EXPECT_LT(std::chrono::steady_clock::now() - start, 2500ms) << "closed after a second at most";
}

TEST_F(DpTcpServerTest, OtherDataPublisherTypesCreateNothing) {
  Make(
      R"(<DataPublisher type="UdpServer" port="0"/><DataPublisher port="0"/><DATAPUBLISHER type="tcpserver" port="0"/>)");
  EXPECT_TRUE(Server(0).IsListening());
  EXPECT_THROW(Server(1), std::runtime_error);
}

TEST_F(DpTcpServerTest, RestartOnTheSamePortSucceedsWhileOldConnectionsLinger) {
  Make(R"(<DataPublisher type="TcpServer" port="0"/>)");
  uint16_t port = Server().Port();
  auto client = Connect(Server());
  delete FKelvo;  // the server closes its side first, so that side waits in TIME_WAIT
  EXPECT_TRUE(Until([&] {
    client->Poll();
    return client->Ended;
  }));
  Make(R"(<DataPublisher type="TcpServer" port=")" + std::to_string(port) + R"("/>)", 9);
  EXPECT_TRUE(Server().IsListening());
}

TEST_F(DpTcpServerTest, ClientThatGoesAwayMidStreamDoesNotDisturbTheOthers) {
  Make(R"(<DataPublisher type="TcpServer" port="0"/>)");
  auto leaving = Connect(Server());
  auto staying = Connect(Server());
  auto closing = Connect(Server());
  Server().Publish("+001.0C\r");
  ASSERT_TRUE(Receive(*leaving, "+001.0C\r"));
  leaving->Abort();
  closing->Close();
  std::string expected = "+001.0C\r";
  for (int i = 2; i <= 50; ++i) {
    std::string line = "+0" + std::to_string(10 + i) + ".0C\r";
    expected += line;
    Server().Publish(line);
    Until([] { return false; }, 1ms);
  }
  EXPECT_TRUE(Receive(*staying, expected));
  EXPECT_TRUE(Until([&] { return Server().ClientCount() == 1; })) << "the gone clients are closed";
}

// Numbered lines of about 100 bytes.
std::string NumberedLine(int number) {
  char head[16];
  snprintf(head, sizeof head, "L%06d ", number);
  return head + std::string(90, 'x') + "\r";
}

// The numbers of the lines received; fails on anything but whole numbered lines.
std::vector<int> LineNumbers(const std::string& data) {
  std::vector<int> numbers;
  size_t start = 0;
  for (size_t cr; (cr = data.find('\r', start)) != std::string::npos; start = cr + 1) {
    int number = std::atoi(data.c_str() + start + 1);
    EXPECT_EQ(data.substr(start, cr + 1 - start), NumberedLine(number)) << "a broken line";
    numbers.push_back(number);
  }
  EXPECT_EQ(start, data.size()) << "the data ends inside a line";
  return numbers;
}

class DpTcpServerStallTest : public DpTcpServerTest {
 protected:
  void SetUp() override {
    DpTcpServerTest::SetUp();
    TestClock::Set(EncodeDate(2026, 1, 5) + EncodeTime(12, 0, 0, 0));
    Make(R"(<DataPublisher type="TcpServer" port="0"/>)");
    FStalled = Connect(Server(), 4096);
    FReader = Connect(Server());
  }
  // Publishes numbered lines and waits until the reading client has them all.
  void Publish(int count) {
    for (int i = 0; i < count; ++i) Server().Publish(NumberedLine(++FPublished));
    size_t expected = FPublished * NumberedLine(0).size();
    ASSERT_TRUE(Until([&] {
      FReader->Poll();
      return FReader->Data.size() >= expected;
    })) << "the reading client falls behind";
  }
  // Far more than the socket buffers and the queue of the stalled client hold.
  void Flood() {
    for (int i = 0; i < 100; ++i) Publish(100);
  }
  void ReadStalledFor(std::chrono::milliseconds time) {
    Until(
        [&] {
          FStalled->Poll();
          return FStalled->Ended;
        },
        time);
  }

  std::unique_ptr<TClient> FStalled, FReader;
  int FPublished = 0;
};

TEST_F(DpTcpServerStallTest, ClientThatNeverReadsLosesWholeLinesOnlyAndIsDroppedAfterThirtySeconds) {
  Flood();
  TestClock::Advance(29);
  Publish(1);
  EXPECT_EQ(Server().ClientCount(), 2u) << "dropped before 30 s";
  TestClock::Advance(2);
  Publish(2);

  ReadStalledFor(10000ms);
  EXPECT_TRUE(FStalled->Ended) << "the stalled client is disconnected";
  std::vector<int> numbers = LineNumbers(FStalled->Data);
  ASSERT_FALSE(numbers.empty());
  EXPECT_EQ(numbers.front(), 1);
  EXPECT_LT(numbers.size(), static_cast<size_t>(FPublished)) << "the stalled client lost lines";
  EXPECT_TRUE(std::is_sorted(numbers.begin(), numbers.end()));
  EXPECT_EQ(std::adjacent_find(numbers.begin(), numbers.end()), numbers.end());
  EXPECT_EQ(LineNumbers(FReader->Data).size(), static_cast<size_t>(FPublished)) << "the reader lost lines";
  EXPECT_EQ(Server().ClientCount(), 1u);
}

TEST_F(DpTcpServerStallTest, ClientThatCatchesUpWithinThirtySecondsStays) {
  Flood();
  TestClock::Advance(29);
  Publish(1);
  ReadStalledFor(200ms);  // reads everything queued: the stall is over
  TestClock::Advance(20);
  Publish(1);
  EXPECT_TRUE(Until([&] {
    FStalled->Poll();
    return FStalled->Ended || FStalled->Data.ends_with(NumberedLine(FPublished));
  }));
  EXPECT_FALSE(FStalled->Ended);
  LineNumbers(FStalled->Data);
}

}  // namespace
}  // namespace duz
