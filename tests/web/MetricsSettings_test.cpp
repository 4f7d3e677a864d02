#include "web/MetricsSettings.h"

#include <gtest/gtest.h>

#include "base/Exception.h"

namespace duz {
namespace {

std::optional<TMetricsSettings> Read(const std::string& children) {
  pugi::xml_document document;
  document.load_string(("<config>" + children + "</config>").c_str());
  return ReadMetricsSettings(document.document_element());
}

TEST(MetricsSettingsTest, DefaultsAllowListAndAnyCase) {
  EXPECT_FALSE(Read("<SMTP/><KELVO comport=\"1\"/>")) << "without the element nothing listens";

  std::optional<TMetricsSettings> settings = Read("<metrics/>");
  ASSERT_TRUE(settings);
  EXPECT_EQ(settings->Address, "0.0.0.0");
  EXPECT_EQ(settings->Port, 9488);
  EXPECT_TRUE(settings->AllowedHosts.empty());

  settings = Read(
      "<Metrics port=\"0\" address=\"127.0.0.1\"><IP host=\"10.0.0.1\"/><ip/><other/>"
      "<IP host=\"ops.example\"/></Metrics><METRICS port=\"1\"/>");
  ASSERT_TRUE(settings);
  EXPECT_EQ(settings->Port, 0) << "the first element counts";
  EXPECT_EQ(settings->Address, "127.0.0.1");
  EXPECT_EQ(settings->AllowedHosts, (std::vector<std::string>{"10.0.0.1", "~", "ops.example"}));
}

TEST(MetricsSettingsTest, BadPortOrAddressIsAClearError) {
  const std::pair<const char*, const char*> cases[] = {
      {"<METRICS port=\"65536\"/>", "METRICS: port 65536 is out of range (0 to 65535)"},
      {"<METRICS port=\"-1\"/>", "METRICS: port -1 is out of range (0 to 65535)"},
      {"<METRICS port=\"http\"/>", "METRICS: port \"http\" is not a whole number"},
      {"<METRICS port=\"\"/>", "METRICS: port \"\" is not a whole number"},
      {"<METRICS address=\"localhost\"/>", "METRICS: address \"localhost\" is not an IPv4 address"},
      {"<METRICS address=\"::1\"/>", "METRICS: address \"::1\" is not an IPv4 address"},
  };
  for (const auto& [xml, message] : cases) {
    try {
      Read(xml);
      ADD_FAILURE() << xml << " was accepted";
    } catch (const Exception& error) {
      EXPECT_EQ(error.Message(), message);
    }
  }
}

}  // namespace
}  // namespace duz
