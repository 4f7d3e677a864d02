// The Debian packages in build/packages/ (built by the fixture PackagesBuilt, as scripts/package
// does): unpacked with dpkg-deb into temporary roots and checked there, installed into a root of
// their own with dpkg, and judged by lintian.
#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "support/Process.h"
#include "support/TempDir.h"

namespace duz {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using Files = std::set<std::string>;

constexpr const char* ServiceDeb = "duzezevovivo_1.0_amd64.deb";
constexpr const char* WindowDeb = "duzezevovivo-window_1.0_amd64.deb";

std::string Package(const std::string& name) {
  return (fs::path(test::BinPath("")).parent_path().parent_path() / "packages" / name).string();
}

// Every file and symbolic link below root, as an absolute path of the installed system.
Files FilesBelow(const fs::path& root) {
  Files files;
  for (const auto& entry : fs::recursive_directory_iterator(root))
    if (!entry.is_directory() || entry.is_symlink())
      files.insert("/" + fs::relative(entry.path(), root).string());
  return files;
}

class PackageTest : public ::testing::Test {
 protected:
  void SetUp() override {
    for (const char* deb : {ServiceDeb, WindowDeb})
      ASSERT_TRUE(fs::exists(Package(deb))) << Package(deb) << " was not built";
  }
  // Both packages unpacked into one root, as dpkg would install them.
  fs::path Unpacked(const std::vector<const char*>& debs = {ServiceDeb, WindowDeb}) {
    const fs::path root = Dir.Path() / "root";
    for (const char* deb : debs) {
      const test::TRun unpack = test::RunToEnd({"dpkg-deb", "-x", Package(deb), root.string()});
      EXPECT_EQ(unpack.Status, 0) << unpack.Err;
    }
    return root;
  }
  std::string Field(const char* deb, const char* field) {
    std::string value = test::RunToEnd({"dpkg-deb", "-f", Package(deb), field}).Out;
    while (!value.empty() && value.back() == '\n') value.pop_back();
    return value;
  }

  test::TTempDir Dir;
};

TEST_F(PackageTest, EachPackageHoldsItsFilesAndNothingElse) {
  struct TCase {
    const char* Deb;
    Files Expected;
  };
  const TCase cases[] = {
      {ServiceDeb,
       {"/usr/bin/duzezevovivo", "/usr/bin/kelvo-sim", "/lib/systemd/system/Deredoru.service",
        "/etc/duzezevovivo/registry.reg", "/etc/duzezevovivo/config.xml",
        "/usr/share/man/man8/duzezevovivo.8.gz", "/usr/share/man/man1/kelvo-sim.1.gz",
        "/usr/share/doc/duzezevovivo/copyright", "/usr/share/doc/duzezevovivo/changelog.gz",
        "/usr/share/duzezevovivo/prometheus-alerts.yml", "/usr/lib/duzezevovivo/libduzezevovivo-ssl.so",
        "/usr/lib/duzezevovivo/libduzezevovivo-crypto.so"}},
      {WindowDeb,
       {"/usr/lib/duzezevovivo/libduzezevovivo-window.so", "/usr/share/doc/duzezevovivo-window/copyright",
        "/usr/share/doc/duzezevovivo-window/changelog.gz"}},
  };
  for (const TCase& c : cases) {
    fs::remove_all(Dir.Path() / "root");
    EXPECT_EQ(FilesBelow(Unpacked({c.Deb})), c.Expected) << c.Deb;
  }
}

TEST_F(PackageTest, ControlDataNamesDependenciesConffilesAndScripts) {
  const std::string serviceDepends = Field(ServiceDeb, "Depends");
  for (const char* library : {"libcurl4", "libpugixml1v5", "libsystemd0", "libfmt9", "init-system-helpers"})
    EXPECT_NE(serviceDepends.find(library), std::string::npos) << library << " in " << serviceDepends;
  EXPECT_EQ(serviceDepends.find("libqt6"), std::string::npos) << serviceDepends;
  const std::string windowDepends = Field(WindowDeb, "Depends");
  EXPECT_NE(windowDepends.find("duzezevovivo (= 1.0)"), std::string::npos) << windowDepends;
  EXPECT_NE(windowDepends.find("libqt6widgets6"), std::string::npos) << windowDepends;

  const fs::path control = Dir.Path() / "control";
  ASSERT_EQ(test::RunToEnd({"dpkg-deb", "-e", Package(ServiceDeb), control.string()}).Status, 0);
  EXPECT_EQ(test::ReadFile((control / "conffiles").string()),
            "/etc/duzezevovivo/registry.reg\n/etc/duzezevovivo/config.xml\n");
  for (const char* script : {"postinst", "prerm", "postrm"})
    EXPECT_EQ(access((control / script).c_str(), X_OK), 0) << script;
}

// The unit names the installed program; the example configuration passes its check; the window
// module lies where the program looks for it.
TEST_F(PackageTest, UnpackedProgramChecksItsConfigurationAndFindsItsWindow) {
  const fs::path root = Unpacked();
  const test::TRun check = test::RunToEnd(
      {(root / "usr/bin/duzezevovivo").string(), "-check", (root / "etc/duzezevovivo/config.xml").string()},
      {{"DUZEZEVOVIVO_REGISTRY", (root / "etc/duzezevovivo/registry.reg").string()}});
  EXPECT_EQ(check.Status, 0) << check.Out;
  EXPECT_NE(check.Out.find("\n0 errors, "), std::string::npos) << check.Out;

  const std::string unit = test::ReadFile((root / "lib/systemd/system/Deredoru.service").string());
  for (const char* line :
       {"ExecStart=/usr/bin/duzezevovivo", "ExecStartPre=/usr/bin/duzezevovivo -check", "Type=notify",
        "WatchdogSec=30", "Restart=on-failure", "WantedBy=multi-user.target"})
    EXPECT_NE(unit.find(std::string("\n") + line + "\n"), std::string::npos) << line << "\n" << unit;

  test::TChildProcess debug({(root / "usr/bin/duzezevovivo").string(), "-debug"},
                            {{"QT_QPA_PLATFORM", "offscreen"},
                             {"DISPLAY", ""},
                             {"DUZEZEVOVIVO_REGISTRY", (root / "etc/duzezevovivo/registry.reg").string()},
                             {"DUZEZEVOVIVO_EVENTLOG", Dir.File("events.log")},
                             {"DUZEZEVOVIVO_SHUTDOWN_COMMAND", "true"}},
                            Dir.Path().string());
  usleep(1500 * 1000);
  debug.Signal(SIGTERM);
  EXPECT_EQ(debug.Wait(10s), 0) << debug.Stderr();
  EXPECT_EQ(debug.Stderr().find("No display available"), std::string::npos) << debug.Stderr();
  EXPECT_EQ(debug.Stdout(), "") << "the log went to the window";
}

// Into a root of its own, under fakeroot, with the maintainer scripts run outside a chroot as dpkg
// allows (under DPKG_ROOT they leave the running system's systemd alone): installed, the unit is
// enabled but nothing is started; removed, it is disabled and the configuration stays; installed
// again, it is enabled again; purged, nothing is left.
TEST_F(PackageTest, InstallEnablesTheUnitAndRemovalDisablesIt) {
  const fs::path root = Dir.Path() / "system";
  fs::create_directories(root / "var/lib/dpkg/updates");
  fs::create_directories(root / "var/lib/dpkg/info");
  test::WriteFile((root / "var/lib/dpkg/status").string(), "");
  auto dpkg = [&](std::vector<std::string> arguments) {
    arguments.insert(arguments.begin(), {"fakeroot", "dpkg", "--root=" + root.string(),
                                         "--force-script-chrootless", "--force-depends", "--log=/dev/null"});
    // dpkg wants the administrator's programs (ldconfig, start-stop-daemon) on its path.
    const test::TRun run =
        test::RunToEnd(arguments, {{"PATH", "/usr/local/sbin:/usr/local/bin:/usr/sbin:/usr/bin:/sbin:/bin"}});
    EXPECT_EQ(run.Status, 0) << run.Err;
  };
  const fs::path wanted = root / "etc/systemd/system/multi-user.target.wants/Deredoru.service";

  dpkg({"-i", Package(ServiceDeb)});
  EXPECT_EQ(fs::read_symlink(wanted), "/lib/systemd/system/Deredoru.service");
  EXPECT_FALSE(fs::exists(root / "var/lib/duzezevovivo")) << "not started";
  dpkg({"-r", "duzezevovivo"});
  EXPECT_FALSE(fs::is_symlink(wanted));
  EXPECT_TRUE(fs::exists(root / "etc/duzezevovivo/config.xml"));
  dpkg({"-i", Package(ServiceDeb)});
  EXPECT_TRUE(fs::is_symlink(wanted));
  dpkg({"-P", "duzezevovivo"});
  EXPECT_EQ(FilesBelow(root / "etc"), Files{});
}

TEST_F(PackageTest, LintianFindsNoError) {
  const test::TRun lintian = test::RunToEnd(
      {"lintian", "--fail-on", "error", Package(ServiceDeb), Package(WindowDeb)}, {}, "", 180s);
  EXPECT_EQ(lintian.Status, 0) << lintian.Out << lintian.Err;
  EXPECT_EQ(lintian.Out.find("E: "), std::string::npos) << lintian.Out;
}

}  // namespace
}  // namespace duz
