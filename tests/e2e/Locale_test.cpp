// The real program under real regional settings: five locales made by the test, one program each,
// all at once. Readings keep their decimals, a limit written with a point works under a comma
// locale, and the TXT and XML files and %DATETIME% show the locale's own numbers and dates.
#include <langinfo.h>
#include <locale.h>

#include <algorithm>
#include <ctime>
#include <set>

#include "e2e/DebugProgram.h"
#include "support/Locales.h"

namespace duz {
namespace {

using namespace std::chrono_literals;

const std::vector<std::string> Names = {"cs_CZ", "de_DE", "fr_FR", "en_US", "ja_JP"};

// The C library's own view of a locale: the oracle for what the program writes.
class TLocaleView {
 public:
  TLocaleView(const test::TLocales& locales, const std::string& name) {
    test::TScopedEnv path("LOCPATH", locales.Path());
    FLocale = newlocale(LC_ALL_MASK, (name + ".UTF-8").c_str(), nullptr);
    if (!FLocale) throw std::runtime_error("no locale " + name);
  }
  ~TLocaleView() { freelocale(FLocale); }
  std::string Point() const { return nl_langinfo_l(RADIXCHAR, FLocale); }
  // The short date and the long time of every second from first to last.
  std::set<std::string> Stamps(std::time_t first, std::time_t last) const {
    std::set<std::string> stamps;
    for (std::time_t t = first; t <= last; ++t) {
      std::tm local{};
      localtime_r(&t, &local);
      char text[128];
      strftime_l(text, sizeof text, "%x %X", &local, FLocale);
      stamps.insert(text);
    }
    return stamps;
  }

 private:
  locale_t FLocale;
};

// The text of a saved line before its first tab, or up to the given separator.
std::string Before(const std::string& text, char separator) { return text.substr(0, text.find(separator)); }

TEST(LocaleTest, ReadingsFilesAndDatesFollowTheLocaleWhateverItsDecimalSeparator) {
  const test::TLocales locales(Names);
  const std::time_t start = std::time(nullptr);
  std::vector<std::unique_ptr<test::TDebugProgram>> programs;
  for (const std::string& name : Names) {
    auto& program = programs.emplace_back(std::make_unique<test::TDebugProgram>());
    const std::string dir = program->Dir.File("");
    std::filesystem::create_directories(dir + "bin");
    program->Dir.Write("bin/net", "#!/bin/sh\nprintf '%s' \"$3\" >> '" + dir + "net.log'\n");
    std::filesystem::permissions(dir + "bin/net", std::filesystem::perms::owner_all);
    ASSERT_TRUE(
        program->Start("<config><KELVO comport=\"1\" caption=\"Room\">"
                       "<CONDITION><max value=\"30.5\">%value%</max><netmessage address=\"ops\" "
                       "message=\"max\"/></CONDITION>"
                       "<SAVE type=\"TXT\" filename=\"default\" directory=\"" +
                           dir +
                           "\"/>"
                           "<SAVE type=\"TXT\" filename=\"template\" directory=\"" +
                           dir +
                           "\"><![CDATA[%DATETIME%|%VALUE%]]></SAVE>"
                           "<SAVE type=\"XML\" filename=\"readings\" directory=\"" +
                           dir +
                           "\"/>"
                           "</KELVO></config>",
                       {{"LANG", name + ".UTF-8"},
                        {"LC_ALL", ""},
                        {"LANGUAGE", ""},
                        {"LOCPATH", locales.Path()},
                        {"DUZEZEVOVIVO_FIRST_TICK", "3"},
                        {"PATH", dir + "bin:" + std::getenv("PATH")}}))
        << name;
    program->Pty.Write("*B1E1+020.0C\r");  // the first line is never evaluated
    program->Pty.Write("*B1E1+030.7C\r");
  }

  // The first tick, and with it the first save, comes 3 s after each start.
  for (size_t i = 0; i < Names.size(); ++i) {
    const test::TDebugProgram& program = *programs[i];
    const std::string point = TLocaleView(locales, Names[i]).Point();
    SCOPED_TRACE(Names[i]);
    EXPECT_TRUE(program.Program->WaitForOutput("[Room] parse temperature: 30" + point + "70", 10s))
        << program.Program->Stdout();
    EXPECT_TRUE(test::WaitUntil([&] { return program.Dir.Read("net.log") == " 30" + point + "7"; }, 10s))
        << "the limit 30.5 did not work: " << program.Dir.Read("net.log");
    ASSERT_TRUE(test::WaitUntil([&] { return !program.Dir.Read("readings.xml").empty(); }, 15s));
  }
  const std::time_t end = std::time(nullptr);

  for (size_t i = 0; i < Names.size(); ++i) {
    const test::TDebugProgram& program = *programs[i];
    const TLocaleView view(locales, Names[i]);
    const std::set<std::string> stamps = view.Stamps(start, end);
    SCOPED_TRACE(Names[i]);
    const std::string line = program.Dir.Read("default.txt");
    EXPECT_TRUE(stamps.count(Before(line, '\t'))) << line;
    EXPECT_EQ(line.substr(line.find('\t')), "\t 30" + view.Point() + "7\r\n");
    const std::string expanded = program.Dir.Read("template.txt");
    EXPECT_TRUE(stamps.count(Before(expanded, '|'))) << expanded;
    EXPECT_EQ(expanded.substr(expanded.find('|')), "| 30" + view.Point() + "7\r\n");
    EXPECT_NE(program.Dir.Read("readings.xml").find("value=\"30" + view.Point() + "7\""), std::string::npos)
        << program.Dir.Read("readings.xml");
  }
}

}  // namespace
}  // namespace duz
