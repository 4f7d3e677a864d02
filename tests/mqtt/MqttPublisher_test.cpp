// The publisher and its connection in this process against a real broker (mosquitto) and a real
// subscriber; the platform is stood in for by a thermometer status of the snapshot.
#include "mqtt/MqttPublisher.h"

#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <mutex>
#include <thread>

#include "base/Clock.h"
#include "base/Exception.h"
#include "status/StatusBoard.h"
#include "support/Env.h"
#include "support/MqttBroker.h"

namespace duz {
namespace {

using namespace std::chrono_literals;
using test::TMqttBroker;
using test::TMqttSubscriber;
using test::WaitUntil;

class MqttPublisherTest : public ::testing::Test {
 protected:
  MqttPublisherTest() { TestClock::Set(46000.5); }
  ~MqttPublisherTest() override { TestClock::Reset(); }

  TMqttSettings Settings(int port) const {
    TMqttSettings settings;
    settings.Host = "127.0.0.1";
    settings.Port = port;
    settings.ClientId = "publisher-test";
    settings.Topic = "t";
    return settings;
  }

  TMqttConnection::TWarn Warn() {
    return [this](const std::string& text) {
      std::lock_guard lock(FLock);
      FWarnings.push_back(text);
    };
  }
  std::vector<std::string> Warnings() {
    std::lock_guard lock(FLock);
    return FWarnings;
  }

  const std::shared_ptr<TStatusBoard> FBoard = std::make_shared<TStatusBoard>();
  const std::shared_ptr<TKelvoStatus> FRoom = FBoard->Add("Room", 1);
  std::mutex FLock;
  std::vector<std::string> FWarnings;  // guarded by FLock
};

TEST_F(MqttPublisherTest, UnchangedTemperatureIsSentAgainOnlyOnceAMinuteWhereverTheWallClockSteps) {
  TMqttBroker broker;
  TMqttSubscriber subscriber(broker, "t/#");
  const int condition = FRoom->AddCondition();
  FRoom->LineReceived(23.5f, Now());
  TMqttPublisher publisher(Settings(broker.Port()), *FBoard, Warn());
  ASSERT_TRUE(subscriber.WaitFor("t/Room/temperature", "23.5")) << subscriber.Output();
  EXPECT_TRUE(subscriber.WaitFor("t/status", "online"));
  EXPECT_TRUE(subscriber.WaitFor("t/Room/connected", "true"));

  TestClock::Advance(30);
  TestClock::StepWall(-3600);  // summer time ends: not a minute's passing
  FRoom->LineReceived(23.5f, Now());
  FRoom->SetConditionState(condition, stMax);
  ASSERT_TRUE(subscriber.WaitFor("t/Room/state", "max"));
  EXPECT_EQ(subscriber.Payloads("t/Room/temperature").size(), 1u) << "the same value within the minute";

  TestClock::Advance(31);  // the minute is over, though the wall clock shows an hour less
  EXPECT_TRUE(WaitUntil([&] { return subscriber.Payloads("t/Room/temperature").size() == 2; }, 5s))
      << subscriber.Output();

  // What a newcomer gets: every value retained, temperatures at QoS 0, the rest at QoS 1.
  TMqttSubscriber newcomer(broker, "t/#");
  ASSERT_TRUE(newcomer.WaitFor("t/Room/state", "max"));
  ASSERT_TRUE(newcomer.WaitFor("t/Room/temperature", "23.5"));
  const test::TMqttReceived temperature = newcomer.Received("t/Room/temperature")[0];
  const test::TMqttReceived state = newcomer.Received("t/Room/state")[0];
  EXPECT_TRUE(temperature.Retained && state.Retained);
  EXPECT_EQ(temperature.Qos, 0);
  EXPECT_EQ(state.Qos, 1);
  EXPECT_TRUE(Warnings().empty()) << Warnings()[0];
}

TEST_F(MqttPublisherTest, BrokerAwayKeepsOnlyTheNewestValueAndWarnsOncePerLoss) {
  TMqttBroker broker;
  broker.Stop();
  FRoom->LineReceived(20.0f, Now());
  TMqttPublisher publisher(Settings(broker.Port()), *FBoard, Warn());
  ASSERT_TRUE(WaitUntil([&] { return !Warnings().empty(); }, 5s));
  EXPECT_EQ(Warnings()[0], "MQTT: no connection to the broker 127.0.0.1:" + std::to_string(broker.Port()) +
                               ": Connection refused");
  FRoom->LineReceived(21.0f, Now());
  FRoom->LineReceived(22.0f, Now());
  std::this_thread::sleep_for(1500ms);  // the first retry, after 1 s, fails too
  EXPECT_EQ(Warnings().size(), 1u) << "a retry is no new loss";

  broker.Start();
  TMqttSubscriber subscriber(broker, "t/#");
  ASSERT_TRUE(subscriber.WaitFor("t/Room/temperature", "22", 5s)) << subscriber.Output();
  EXPECT_EQ(subscriber.Payloads("t/Room/temperature"), std::vector<std::string>{"22"});

  broker.Stop();
  EXPECT_TRUE(WaitUntil([&] { return Warnings().size() == 2; }, 5s)) << "the second loss";
}

TEST_F(MqttPublisherTest, TlsTrustsOnlyTheGivenCa) {
  TMqttBroker broker(true);
  TMqttSubscriber subscriber(broker, "t/#", true);
  TMqttSettings settings = Settings(broker.Port());
  settings.Tls = true;
  {
    // The system's store alone does not know the test's CA.
    TMqttConnection untrusting(settings, Warn());
    ASSERT_TRUE(WaitUntil([&] { return !Warnings().empty(); }, 5s));
    EXPECT_NE(Warnings()[0].find("certificate verify failed"), std::string::npos) << Warnings()[0];
  }
  settings.CaFile = broker.CaFile();
  TMqttConnection trusting(settings, Warn());
  trusting.PublishToBroker("t/x", {"1"});
  EXPECT_TRUE(subscriber.WaitFor("t/x", "1")) << subscriber.Output();
  EXPECT_EQ(subscriber.Payloads("t/status"), std::vector<std::string>{"online"}) << "only the trusting one";
  EXPECT_EQ(Warnings().size(), 1u);

  settings.CaFile = "/nonexistent/ca.pem";
  EXPECT_THROW(TMqttConnection(settings, Warn()).PublishToBroker("t/x", {"2"}), Exception);
}

TEST_F(MqttPublisherTest, StopDoesNotWaitForABrokerThatNeverAnswers) {
  // Accepts connections (the kernel does) but never reads or answers them.
  const int listener = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  ASSERT_EQ(bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
  ASSERT_EQ(listen(listener, 4), 0);
  socklen_t length = sizeof address;
  getsockname(listener, reinterpret_cast<sockaddr*>(&address), &length);
  auto connection = std::make_unique<TMqttConnection>(Settings(ntohs(address.sin_port)), Warn());
  std::this_thread::sleep_for(200ms);
  const auto start = std::chrono::steady_clock::now();
  connection.reset();
  EXPECT_LT(std::chrono::steady_clock::now() - start, 1500ms);
  EXPECT_TRUE(Warnings().empty()) << "still connecting is not a loss";
  close(listener);
}

}  // namespace
}  // namespace duz
