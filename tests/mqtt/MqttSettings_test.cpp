#include "mqtt/MqttSettings.h"

#include <gtest/gtest.h>

#include "base/Exception.h"

namespace duz {
namespace {

TMqttSettings Read(const std::string& attributes) {
  pugi::xml_document document;
  document.load_string(("<MQTT " + attributes + "/>").c_str());
  return ReadMqttSettings(document.first_child(), "duzezevovivo-box");
}

TEST(MqttSettings, MissingAttributesTakeTheirDefaults) {
  const TMqttSettings settings = Read("host=\"broker.lan\"");
  EXPECT_EQ(settings.Host, "broker.lan");
  EXPECT_EQ(settings.Port, 1883);
  EXPECT_EQ(settings.Username, "");
  EXPECT_EQ(settings.ClientId, "duzezevovivo-box");
  EXPECT_EQ(settings.Topic, "duzezevovivo");
  EXPECT_FALSE(settings.Tls);
  EXPECT_FALSE(settings.Discovery);

  const TMqttSettings given = Read(
      "host=\"10.0.0.2\" port=\"8883\" username=\"u\" password=\"p w\" clientid=\"room-1\" topic=\"\" "
      "tls=\"TLS\" cafile=\"/etc/ca.pem\" discovery=\"true\"");
  EXPECT_EQ(given.Port, 8883);
  EXPECT_EQ(given.Password, "p w");
  EXPECT_EQ(given.ClientId, "room-1");
  EXPECT_EQ(given.Topic, "") << "an empty prefix is allowed";
  EXPECT_TRUE(given.Tls);
  EXPECT_EQ(given.CaFile, "/etc/ca.pem");
  EXPECT_TRUE(given.Discovery);
}

TEST(MqttSettings, BadAttributesAreRefusedNamingTheAttribute) {
  struct TRow {
    const char* Label;
    const char* Attributes;
    const char* Message;
  } rows[] = {
      {"no host", "port=\"1883\"", "MQTT element: host is missing"},
      {"empty host", "host=\"\"", "MQTT element: host is missing"},
      {"port not a number", "host=\"h\" port=\"mqtt\"", "MQTT element: port \"mqtt\" is not a whole number"},
      {"port zero", "host=\"h\" port=\"0\"", "MQTT element: port 0 is out of range (1 to 65535)"},
      {"port too large", "host=\"h\" port=\"65536\"",
       "MQTT element: port 65536 is out of range (1 to 65535)"},
      {"unknown tls", "host=\"h\" tls=\"ssl\"", "MQTT element: tls \"ssl\" is not one of NONE, TLS"},
      {"empty tls beside a password", "host=\"h\" username=\"u\" password=\"p\" tls=\"\"",
       "MQTT element: tls \"\" is not one of NONE, TLS"},
      {"discovery not a Boolean", "host=\"h\" discovery=\"maybe\"",
       "MQTT element: discovery \"maybe\" is not true or false"},
      {"wildcard in topic", "host=\"h\" topic=\"site/+\"",
       "MQTT element: topic \"site/+\" may not hold + or #"},
  };
  for (const TRow& row : rows) {
    try {
      Read(row.Attributes);
      ADD_FAILURE() << row.Label << ": accepted";
    } catch (const Exception& error) {
      EXPECT_EQ(error.Message(), row.Message) << row.Label;
    }
  }
}

TEST(MqttSettings, TheFirstMqttElementOfAnyCaseIsFound) {
  pugi::xml_document document;
  document.load_string("<config><Kelvo/><mqtt host=\"a\"/><MQTT host=\"b\"/></config>");
  EXPECT_EQ(std::string(FindMqttElement(document).attribute("host").value()), "a");
  document.load_string("<config><Kelvo><MQTT host=\"a\"/></Kelvo></config>");
  EXPECT_FALSE(FindMqttElement(document)) << "only the root's children count";
}

}  // namespace
}  // namespace duz
