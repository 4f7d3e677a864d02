#include "core/Shutdown.h"

#include <gtest/gtest.h>

#include "base/Exception.h"

namespace duz {
namespace {

int Flags(const std::string& children, const std::string& versionName) {
  pugi::xml_document document;
  document.load_string(("<config>" + children + "<KELVO/></config>").c_str());
  return ShutdownFlags(document.document_element(), versionName);
}

TEST(ShutdownFlagsTest, ElementThatApplies) {
  const struct {
    const char* Label;
    const char* Children;
    const char* Version;
    int Expected;
  } rows[] = {
      {"no element", "", "", DefaultShutdownFlags},
      {"version element after DEFAULT",
       R"(<SHUTDOWN type="DEFAULT" value="2"/><SHUTDOWN type="xp" value="1"/>)", "XP", 1},
      {"version element before DEFAULT",
       R"(<SHUTDOWN type="xp" value="1"/><SHUTDOWN type="DEFAULT" value="2"/>)", "XP", 1},
      {"empty version name takes DEFAULT",
       R"(<SHUTDOWN type="xp" value="1"/><SHUTDOWN type="Default" value="2"/>)", "", 2},
      {"present but empty type matches the empty name",
       R"(<SHUTDOWN type="DEFAULT" value="2"/><SHUTDOWN type="" value="5"/>)", "", 5},
      {"first DEFAULT wins", R"(<SHUTDOWN type="DEFAULT" value="2"/><SHUTDOWN type="DEFAULT" value="1"/>)",
       "", 2},
      {"other case of the element name is not seen", R"(<Shutdown type="DEFAULT" value="2"/>)", "",
       DefaultShutdownFlags},
      {"elements below the root are not seen", R"(<X><SHUTDOWN type="DEFAULT" value="2"/></X>)", "",
       DefaultShutdownFlags},
      {"walk ends before an element without type", R"(<SHUTDOWN type="" value="6"/><SHUTDOWN value="1"/>)",
       "", 6},
      {"unused element needs no value", R"(<SHUTDOWN type="XP"/>)", "", DefaultShutdownFlags},
  };
  for (const auto& row : rows) EXPECT_EQ(Flags(row.Children, row.Version), row.Expected) << row.Label;
}

TEST(ShutdownFlagsTest, BadElementsMetByTheWalkFail) {
  const struct {
    const char* Label;
    const char* Children;
  } rows[] = {
      {"missing type", R"(<SHUTDOWN type="DEFAULT" value="2"/><SHUTDOWN value="1"/>)"},
      {"taken DEFAULT without value", R"(<SHUTDOWN type="DEFAULT"/>)"},
      {"taken element with text value", R"(<SHUTDOWN type="" value="off"/>)"},
  };
  for (const auto& row : rows) EXPECT_THROW(Flags(row.Children, ""), Exception) << row.Label;
}

}  // namespace
}  // namespace duz
