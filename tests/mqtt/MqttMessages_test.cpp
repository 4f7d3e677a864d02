#include "mqtt/MqttMessages.h"

#include <gtest/gtest.h>

#include <cmath>

#include "support/Process.h"
#include "support/TempDir.h"

namespace duz {
namespace {

using namespace std::chrono_literals;

TEST(MqttMessages, CaptionsBecomeTopicLevelsTheBrokerAccepts) {
  struct TRow {
    const char* Label;
    std::string Caption;
    std::string Level;
  } rows[] = {
      {"plain", "Server room", "Server room"},
      {"UTF-8 kept", "Serverovna č. 2 ✓", "Serverovna č. 2 ✓"},
      {"level separator and wildcards", "Rack/2+#", "Rack_2__"},
      {"control characters",
       "a\tb\x7f"
       "c\xc2\x85"
       "d",
       "a_b_c_d"},
      {"stray and truncated bytes",
       "a\xff"
       "b\xc3",
       "a_b_"},
      {"overlong form", "a\xc0\xaf", "a__"},
      {"surrogate", "a\xed\xa0\x80", "a___"},
  };
  for (const TRow& row : rows) EXPECT_EQ(TopicLevel(row.Caption), row.Level) << row.Label;
}

TEST(MqttMessages, TemperaturesAreShortestDecimalsWithADot) {
  EXPECT_EQ(FormatMqttTemperature(23.5f), "23.5");
  EXPECT_EQ(FormatMqttTemperature(25.3f), "25.3") << "not the float's 25.299999";
  EXPECT_EQ(FormatMqttTemperature(-3.1f), "-3.1");
  EXPECT_EQ(FormatMqttTemperature(20.0f), "20");
  EXPECT_EQ(FormatMqttTemperature(0.05f), "0.05");
}

TKelvoSnapshot Thermometer(std::string caption, std::optional<float> temperature, bool connected,
                           std::vector<TConditionState> states) {
  TKelvoSnapshot status;
  status.Caption = std::move(caption);
  status.Temperature = temperature;
  status.Connected = connected;
  for (TConditionState state : states) status.Conditions.push_back({state});
  return status;
}

TEST(MqttMessages, EachThermometerHasItsTemperatureStatesAndConnection) {
  TMqttSettings settings;
  settings.Topic = "site";
  TPlatformSnapshot snapshot;
  snapshot.Thermometers = {Thermometer("Room", 55.5f, true, {stMax, stNone, stOff}),
                           Thermometer("New", std::nullopt, false, {stNone}),
                           Thermometer("Overflow", INFINITY, true, {})};
  const TMqttMessages expected = {
      {"site/Room/temperature", {"55.5", 0, true}},
      {"site/Room/state", {"max"}},
      {"site/Room/state/3", {"off"}},
      {"site/Room/connected", {"true"}},
      {"site/New/connected", {"false"}},
      {"site/Overflow/connected", {"true"}},
  };
  EXPECT_EQ(SnapshotMessages(settings, snapshot), expected);

  settings.Topic = "";
  EXPECT_EQ(SnapshotMessages(settings, snapshot).count("Room/state"), 1u) << "no prefix, no leading slash";
}

TEST(MqttMessages, DiscoveryIsValidJsonWithWhatHomeAssistantNeeds) {
  TMqttSettings settings;
  settings.ClientId = "duzezevovivo-box.lan";
  settings.Discovery = true;
  TPlatformSnapshot snapshot;
  snapshot.Thermometers = {Thermometer("Rack \"A\"\\1/č", 21.0f, true, {})};
  const TMqttMessages messages = SnapshotMessages(settings, snapshot);
  // Home Assistant takes only [a-zA-Z0-9_-] in the object id.
  const std::string topic = "homeassistant/sensor/duzezevovivo-box_lan_Rack__A__1__/config";
  const std::string connectivity = "homeassistant/binary_sensor/duzezevovivo-box_lan_Rack__A__1__/config";
  ASSERT_EQ(messages.count(topic), 1u);
  ASSERT_EQ(messages.count(connectivity), 1u);
  EXPECT_EQ(messages.at(topic).Qos, 1);

  test::TTempDir dir;
  dir.Write("config.json", messages.at(topic).Payload);
  dir.Write("connectivity.json", messages.at(connectivity).Payload);
  const std::string connectedTopic = "\"duzezevovivo/Rack \\\"A\\\"\\\\1_č/connected\"";
  test::TChildProcess jq({"jq", "-e",
                          ".name == \"Rack \\\"A\\\"\\\\1/č\" "
                          "and .unique_id == \"duzezevovivo-box_lan_Rack__A__1__\" "
                          "and .state_topic == \"duzezevovivo/Rack \\\"A\\\"\\\\1_č/temperature\" "
                          "and .unit_of_measurement == \"°C\" and .device_class == \"temperature\" "
                          "and .state_class == \"measurement\" and .expire_after == 150 "
                          "and .availability[0].topic == \"duzezevovivo/status\" "
                          "and .availability[1].topic == " +
                              connectedTopic,
                          dir.File("config.json")});
  EXPECT_EQ(jq.Wait(10s), 0) << messages.at(topic).Payload << "\n" << jq.Stdout() << jq.Stderr();
  // Available while the service is: a lost thermometer shows as disconnected, not as unknown.
  test::TChildProcess jqConnectivity(
      {"jq", "-e",
       ".device_class == \"connectivity\" and .state_topic == " + connectedTopic +
           " and .payload_on == \"true\" and .payload_off == \"false\" "
           "and .unique_id == \"duzezevovivo-box_lan_Rack__A__1___connected\" "
           "and .availability == [{\"topic\":\"duzezevovivo/status\",\"payload_available\":\"online\","
           "\"payload_not_available\":\"offline\"}]",
       dir.File("connectivity.json")});
  EXPECT_EQ(jqConnectivity.Wait(10s), 0) << messages.at(connectivity).Payload << "\n"
                                         << jqConnectivity.Stderr();
}

}  // namespace
}  // namespace duz
