#include "service/Installer.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <filesystem>

#include "config/Registry.h"
#include "service/Deredoru.h"
#include "support/Env.h"
#include "support/RegistryFile.h"
#include "support/TempDir.h"

namespace duz {
namespace {

namespace fs = std::filesystem;

// The line a path becomes, and that it stays one line: a path must not add directives to the unit.
TEST(ServiceUnitText, ExecStartKeepsAnyPathOneQuotedWord) {
  struct TCase {
    const char* Label;
    std::string Path;
    std::string ExecStart;
  };
  const TCase cases[] = {
      {"plain", "/usr/local/bin/duzezevovivo", "\"/usr/local/bin/duzezevovivo\""},
      {"space", "/opt/my dir/duz", "\"/opt/my dir/duz\""},
      {"specifier", "/opt/%n/duz", "\"/opt/%%n/duz\""},
      {"quote and backslash", "/opt/a\"b\\c", "\"/opt/a\\\"b\\\\c\""},
      {"line break", "/opt/x\nExecStartPre=/bin/false", "\"/opt/x\\x0aExecStartPre=/bin/false\""},
  };
  const std::string plain = ServiceUnitText("/usr/local/bin/duzezevovivo");
  for (const TCase& c : cases) {
    const std::string text = ServiceUnitText(c.Path);
    EXPECT_NE(text.find("\nExecStart=" + c.ExecStart + "\n"), std::string::npos) << c.Label << "\n" << text;
    EXPECT_EQ(std::count(text.begin(), text.end(), '\n'), std::count(plain.begin(), plain.end(), '\n'))
        << c.Label;
  }
}

class InstallerTest : public ::testing::Test {
 protected:
  void SetUp() override { fs::create_directory(Dir.File("units")); }

  std::string Unit() const { return Dir.File("units/Deredoru.service"); }
  std::string RegistryText() const { return Dir.Read("registry.reg"); }
  void WriteConfigKey() const { test::WriteRegistryFile(Dir.File("registry.reg"), "/etc/duz.xml", {}); }

  test::TTempDir Dir;
  test::TScopedEnv UnitDir{"DUZEZEVOVIVO_UNIT_DIR", Dir.File("units")};
  test::TScopedEnv Registry{"DUZEZEVOVIVO_REGISTRY", Dir.File("registry.reg")};
  test::TScopedEnv EventLog{"DUZEZEVOVIVO_EVENTLOG", Dir.File("events.log")};
  TDeredoru Module;
};

TEST_F(InstallerTest, InstallWritesTheUnitAndTheRegistryValues) {
  ASSERT_EQ(InstallService(Module), 0);
  const std::string executable = fs::read_symlink("/proc/self/exe").string();
  EXPECT_EQ(test::ReadFile(Unit()), ServiceUnitText(executable));
  EXPECT_EQ(ReadRegistryString(EventSourceKey, "EventMessageFile"), executable);
  EXPECT_NE(RegistryText().find("\"TypesSupported\"=dword:00000007"), std::string::npos) << RegistryText();
  const std::string description = ReadRegistryString(ServiceKey, "Description");
  EXPECT_EQ(description.rfind("Služba pro dohled a kontrolu teploty čidel Kelvo (KelvoUsb/KelvoNet) [", 0),
            0u)
      << description;
  EXPECT_EQ(description.back(), ']');
}

TEST_F(InstallerTest, ExistingUnitFailsTheInstallationWithoutTouchingAnything) {
  test::WriteFile(Unit(), "[Service]\nExecStart=/bin/true\n");
  WriteConfigKey();
  const std::string registryBefore = RegistryText();
  EXPECT_EQ(InstallService(Module), EEXIST);
  EXPECT_EQ(test::ReadFile(Unit()), "[Service]\nExecStart=/bin/true\n");
  EXPECT_EQ(RegistryText(), registryBefore);
}

TEST_F(InstallerTest, RegistryFailureLeavesNoUnitBehind) {
  Dir.Write("not-a-directory", "");
  test::TScopedEnv registry("DUZEZEVOVIVO_REGISTRY", Dir.File("not-a-directory/registry.reg"));
  EXPECT_EQ(InstallService(Module), ENOTDIR);
  EXPECT_FALSE(fs::exists(Unit()));
}

TEST_F(InstallerTest, UninstallRemovesWhatTheInstallationAddedOnly) {
  WriteConfigKey();
  ASSERT_EQ(InstallService(Module), 0);
  ASSERT_EQ(UninstallService(Module), 0);
  EXPECT_FALSE(fs::exists(Unit()));
  EXPECT_FALSE(RegistryKeyExists(ServiceKey));
  EXPECT_FALSE(RegistryKeyExists(EventSourceKey));
  EXPECT_EQ(ReadRegistryString("SOFTWARE\\Quellix\\Duzezevovivo", "config"), "/etc/duz.xml");
}

TEST_F(InstallerTest, UninstallWithoutAUnitFailsAndKeepsTheRegistry) {
  WriteConfigKey();
  const std::string registryBefore = RegistryText();
  EXPECT_EQ(UninstallService(Module), ENOENT);
  EXPECT_EQ(RegistryText(), registryBefore);
}

}  // namespace
}  // namespace duz
