// Readings of the real program (-debug mode) on a real broker (mosquitto), read by a real subscriber:
// a thermometer on a pseudo-terminal, the broker on a free port of 127.0.0.1.
#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <memory>

#include "e2e/DebugProgram.h"
#include "support/EventLogFile.h"
#include "support/MqttBroker.h"
#include "support/Process.h"

namespace duz {
namespace {

using namespace std::chrono_literals;
using test::TMqttBroker;
using test::TMqttSubscriber;

class MqttTest : public ::testing::Test {
 protected:
  // Starts the program with one thermometer (COM1, caption Server room, upper limit 50) and the MQTT
  // element with the given attributes for the broker, and waits until the thermometer has been created.
  void Start(const TMqttBroker& broker, const std::string& attributes = "") {
    FProgram.Launch("<config><MQTT host=\"127.0.0.1\" port=\"" + std::to_string(broker.Port()) +
                    "\" clientid=\"e2e\" topic=\"site\" " + attributes +
                    "/><KELVO comport=\"1\" caption=\"Server room\">"
                    "<CONDITION><max value=\"50\"/></CONDITION></KELVO></config>");
    ASSERT_TRUE(FProgram.WaitCreated("Server room"));
  }

  std::vector<std::string> Events() const {
    return test::EventTexts(test::ReadEventLog(FProgram.Dir.File("events.log")), "Deredoru");
  }

  test::TDebugProgram FProgram;
  test::TPty& FPty = FProgram.Pty;
};

// Through TLS to a broker that serves only clients with a certificate of its CA.
TEST_F(MqttTest, ReadingsStatesAndDiscoveryArriveAndAStopSaysOffline) {
  TMqttBroker broker(true, true);
  const test::TRun anonymous =
      test::RunToEnd({"mosquitto_pub", "-h", "127.0.0.1", "-p", std::to_string(broker.Port()), "--cafile",
                      broker.CaFile(), "-t", "x", "-m", "1"},
                     {}, "", 10s);
  ASSERT_NE(anonymous.Status, 0) << "the broker must want a certificate";
  TMqttSubscriber subscriber(broker, "#", true);
  Start(broker, "discovery=\"1\" tls=\"tls\" cafile=\"" + broker.CaFile() + "\" certfile=\"" +
                    broker.ClientCertFile() + "\" keyfile=\"" + broker.ClientKeyFile() + "\"");
  EXPECT_TRUE(subscriber.WaitFor("site/status", "online")) << subscriber.Output();
  FPty.Write("*B1E1+020.0C\r");  // the first line is never evaluated
  FPty.Write("*B1E1+055.5C\r");
  EXPECT_TRUE(subscriber.WaitFor("site/Server room/temperature", "55.5")) << subscriber.Output();
  EXPECT_TRUE(subscriber.WaitFor("site/Server room/state", "max")) << subscriber.Output();
  EXPECT_TRUE(subscriber.WaitFor("site/Server room/connected", "true"));

  // Its JSON is checked whole where it is made (MqttMessages_test).
  const std::vector<std::string> discovery =
      subscriber.Payloads("homeassistant/sensor/e2e_Server_room/config");
  ASSERT_EQ(discovery.size(), 1u);
  for (const char* part : {R"("state_class":"measurement")", R"("expire_after":150)",
                           R"({"topic":"site/status","payload_available":"online")"})
    EXPECT_NE(discovery[0].find(part), std::string::npos) << part << " in " << discovery[0];
  EXPECT_EQ(subscriber.Payloads("homeassistant/binary_sensor/e2e_Server_room/config").size(), 1u);

  FProgram.Stop();
  EXPECT_TRUE(subscriber.WaitFor("site/status", "offline")) << subscriber.Output();
  EXPECT_TRUE(Events().empty()) << Events()[0];
}

TEST_F(MqttTest, KilledServiceIsDeclaredOfflineByTheBroker) {
  TMqttBroker broker;
  TMqttSubscriber subscriber(broker, "site/status");
  Start(broker);
  ASSERT_TRUE(subscriber.WaitFor("site/status", "online")) << subscriber.Output();
  FProgram.Program->Signal(SIGKILL);
  EXPECT_TRUE(subscriber.WaitFor("site/status", "offline", 5s)) << subscriber.Output();
  FProgram.Program->Wait(10s);
  FProgram.Program.reset();
}

TEST_F(MqttTest, BrokerRestartedDuringReadingsGetsTheNewestValues) {
  TMqttBroker broker;
  Start(broker);
  FPty.Write("*B1E1+020.0C\r");
  FPty.Write("*B1E1+021.0C\r");
  {
    TMqttSubscriber subscriber(broker, "site/#");
    ASSERT_TRUE(subscriber.WaitFor("site/Server room/temperature", "21")) << subscriber.Output();
  }
  broker.Stop();  // without persistence: every retained message is gone
  FPty.Write("*B1E1+052.0C\r");
  FPty.Write("*B1E1+053.5C\r");
  ASSERT_TRUE(FProgram.Program->WaitForOutput("MQTT: no connection to the broker", 5s))
      << FProgram.Program->Stdout();
  broker.Start();
  TMqttSubscriber subscriber(broker, "site/#");
  EXPECT_TRUE(subscriber.WaitFor("site/Server room/temperature", "53.5")) << subscriber.Output();
  EXPECT_TRUE(subscriber.WaitFor("site/Server room/state", "max"));
  EXPECT_TRUE(subscriber.WaitFor("site/status", "online"));
  EXPECT_EQ(subscriber.Payloads("site/Server room/temperature"), std::vector<std::string>{"53.5"});
  EXPECT_TRUE(FProgram.Program->WaitForOutput("MQTT: connected to the broker", 5s));
  FProgram.Stop();
  const std::vector<std::string> events = Events();
  ASSERT_EQ(events.size(), 1u);
  EXPECT_EQ(
      events[0].rfind("MQTT: no connection to the broker 127.0.0.1:" + std::to_string(broker.Port()), 0), 0u)
      << events[0];
  EXPECT_EQ(test::ReadEventLog(FProgram.Dir.File("events.log"))[0].Type, 2u) << "a warning";
}

}  // namespace
}  // namespace duz
