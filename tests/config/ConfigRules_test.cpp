#include "config/ConfigRules.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>

#include "base/Exception.h"
#include "base/RegionalSettings.h"

namespace duz {
namespace {

// A default the platform takes must pass its own rule: a typo there would fail every reader.
TEST(ConfigRulesTest, EveryDefaultPassesItsOwnRule) {
  const pugi::xml_node missing;
  for (const TElementRule& element : ConfigElements())
    for (const TAttributeRule& attribute : element.Attributes) {
      if (attribute.Required) continue;
      if (attribute.Type == TValueType::Whole || attribute.Type == TValueType::Real) {
        EXPECT_NO_THROW(CheckAttribute(missing, attribute)) << element.Name << " " << attribute.Name;
      }
      if (attribute.Type == TValueType::Word) {
        EXPECT_NE(std::find(attribute.Words.begin(), attribute.Words.end(), attribute.Default),
                  attribute.Words.end())
            << element.Name << " " << attribute.Name;
      }
    }
}

TEST(ConfigRulesTest, NumbersConvertWithinTheirRangeOrRaiseNamingTheAttribute) {
  struct TCase {
    const char* Label;
    const char* Element;
    const char* Attribute;
    const char* Xml;
    double Value;        // when it converts
    const char* Raised;  // the message otherwise
  };
  const TCase cases[] = {
      {"default", "DATAPUBLISHER", "port", "<e/>", 10001, nullptr},
      {"client limit", "DATAPUBLISHER", "maxclients", R"(<e maxclients="1001"/>)", 0,
       "maxclients 1001 is out of range (1 to 1000)"},
      {"whole", "KELVO", "comport", R"(<e comport=" 7 "/>)", 7, nullptr},
      {"regional separator", "min", "value", R"(<e value="-12,5"/>)", -12.5, nullptr},
      {"dot under a comma locale", "min", "value", R"(<e value="-12.5"/>)", -12.5, nullptr},
      {"fraction for a whole number", "SAVE", "interval", R"(<e interval="1,5"/>)", 0,
       "interval \"1,5\" is not a whole number"},
      {"not a number at all", "off", "wait", R"(<e wait="nan"/>)", 0, "wait \"nan\" is not a number"},
      {"limit beyond a float", "max", "value", R"(<e value="1E39"/>)", 0,
       "value 1E39 is out of range (-3.40282e+38 to 3.40282e+38)"},
  };
  const TRegionalSettings saved = RegionalSettings();
  TRegionalSettings comma = saved;
  comma.DecimalSeparator = ',';
  SetRegionalSettings(comma);
  for (const TCase& c : cases) {
    pugi::xml_document document;
    document.load_string(c.Xml);
    const TAttributeRule& rule = AttributeRule(c.Element, c.Attribute);
    try {
      EXPECT_EQ(ReadNumber(document.document_element(), rule), c.Value) << c.Label;
      EXPECT_EQ(c.Raised, nullptr) << c.Label;
    } catch (const Exception& error) {
      EXPECT_STREQ(error.what(), c.Raised) << c.Label;
    }
  }
  SetRegionalSettings(saved);
}

}  // namespace
}  // namespace duz
