// The service run, INSTALL and UNINSTALL of the real binary, each with its own registry file,
// event-log file, unit directory and working directory.
#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <memory>

#include "config/Registry.h"
#include "support/Env.h"
#include "support/EventLogFile.h"
#include "support/NotifySocket.h"
#include "support/Process.h"
#include "support/Pty.h"
#include "support/RegistryFile.h"
#include "support/TempDir.h"

namespace duz {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using Texts = std::vector<std::string>;

constexpr const char* InstallFailure = "Service \"Kelvo watch service\" failed to install with error: ";
constexpr const char* UninstallFailure = "Service \"Kelvo watch service\" failed to uninstall with error: ";

// Seconds since the epoch of an entry's local time stamp "yyyy-mm-ddThh:nn:ss.zzz".
double Seconds(const std::string& time) {
  int year, month, day, hour, minute, second, ms;
  if (std::sscanf(time.c_str(), "%d-%d-%dT%d:%d:%d.%d", &year, &month, &day, &hour, &minute, &second, &ms) !=
      7)
    return 0;
  const auto date = std::chrono::sys_days(std::chrono::year(year) / month / day);
  return static_cast<double>(date.time_since_epoch().count()) * 86400 + hour * 3600 + minute * 60 + second +
         ms / 1000.0;
}

class ServiceTest : public ::testing::Test {
 protected:
  void SetUp() override {
    fs::create_directory(Dir.File("units"));
    fs::create_directory(Dir.File("work"));
  }

  std::map<std::string, std::string> Environment(const std::string& notifySocket = "") const {
    return {{"NOTIFY_SOCKET", notifySocket},
            {"DUZEZEVOVIVO_EVENTLOG", Dir.File("events.log")},
            {"DUZEZEVOVIVO_REGISTRY", Dir.File("registry.reg")},
            {"DUZEZEVOVIVO_UNIT_DIR", Dir.File("units")},
            {"DUZEZEVOVIVO_SHUTDOWN_COMMAND", "true"},
            {"DISPLAY", ""},
            {"WAYLAND_DISPLAY", ""}};
  }
  test::TRun Run(std::vector<std::string> arguments,
                 const std::string& program = test::BinPath("duzezevovivo")) const {
    arguments.insert(arguments.begin(), program);
    return test::RunToEnd(arguments, Environment(), Dir.File("work"), 20s);
  }
  void WriteConfig(const std::string& xml) const {
    Dir.Write("config.xml", xml);
    test::WriteRegistryFile(Dir.File("registry.reg"), Dir.File("config.xml"), {{250, Dir.File("no-device")}});
  }
  // The service run with the configuration, sent SIGTERM as soon as it reports itself running.
  std::unique_ptr<test::TChildProcess> RunUntilReadyThenTerminate(const std::string& config) {
    WriteConfig(config);
    auto service = std::make_unique<test::TChildProcess>(Texts{test::BinPath("duzezevovivo")},
                                                         Environment(Manager.Path()), Dir.File("work"));
    EXPECT_TRUE(Manager.WaitFor("READY=1", 10s));
    service->Signal(SIGTERM);
    return service;
  }
  std::vector<test::TEventEntry> Events() const { return test::ReadEventLog(Dir.File("events.log")); }
  Texts ServiceEvents() const { return test::EventTexts(Events(), "Deredoru"); }
  std::string Unit() const { return Dir.File("units/Deredoru.service"); }

  test::TTempDir Dir;
  test::TNotifySocket Manager{Dir.File("notify")};
};

TEST_F(ServiceTest, SigtermStopsTheServiceThroughItsWholeLifeCycle) {
  const auto service = RunUntilReadyThenTerminate("<KELVOS/>");
  EXPECT_TRUE(Manager.WaitFor("STOPPING=1", 10s));
  EXPECT_EQ(service->Wait(10s), 0) << service->Stderr();
  EXPECT_EQ(ServiceEvents(), (Texts{"Create", "Start", "Stop", "Destroy"}));
}

TEST_F(ServiceTest, StopDuringALongWaitEndsItAndIsHandledOnceThePlatformExists) {
  const auto service =
      RunUntilReadyThenTerminate("<KELVOS><WAIT wait=\"60\"/><KELVO comport=\"250\"/></KELVOS>");
  EXPECT_EQ(service->Wait(20s), 0) << service->Stderr();
  std::vector<test::TEventEntry> events;
  for (const test::TEventEntry& entry : Events())
    if (entry.Source == "Deredoru") events.push_back(entry);
  ASSERT_EQ(events.size(), 5u);
  EXPECT_EQ(events[1].Text, "Start");
  EXPECT_EQ(events[2].Text, "Error: Invalid port number (COM250)")
      << "the subservice after the wait is created";
  EXPECT_EQ(events[3].Text, "Stop");
  EXPECT_LT(Seconds(events[3].Time) - Seconds(events[1].Time), 5) << "the stop ends the WAIT";
  EXPECT_EQ(events[4].Text, "Destroy");
}

// The service binary leaves the window toolkit to the module that only -debug loads, libcurl to
// the first HTTP request, libsystemd to the bus question of the stop, and OpenSSL and libmosquitto
// to TLS, a login and MQTT.
TEST_F(ServiceTest, ServiceMapsNoGuiOrHttpLibrary) {
  WriteConfig("<KELVOS/>");
  test::TChildProcess service({test::BinPath("duzezevovivo")}, Environment(Manager.Path()), Dir.File("work"));
  ASSERT_TRUE(Manager.WaitFor("READY=1", 10s)) << service.Stderr();
  const std::string maps = test::ReadFile("/proc/" + std::to_string(service.Pid()) + "/maps");
  ASSERT_NE(maps.find("/libc.so"), std::string::npos) << maps;
  for (const char* library : {"/libQt6", "/libX11", "/libxcb", "/libGL", "/libEGL", "/libOpenGL", "/libicu",
                              "/libcurl", "/libsystemd", "/libssl", "/libcrypto", "/libmosquitto"})
    EXPECT_EQ(maps.find(library), std::string::npos) << library;
  service.Signal(SIGTERM);
  EXPECT_EQ(service.Wait(10s), 0) << service.Stderr();
}

// What "systemctl status" shows and what keeps the watchdog quiet, from the real binary.
TEST_F(ServiceTest, StatusLineAndKeepAliveReachTheManager) {
  test::TPty thermometer;
  Dir.Write("config.xml", R"(<config><Kelvo comport="1" caption="Server room"><CONDITION/></Kelvo>)"
                          R"(<Kelvo comport="2" caption="Rack"/></config>)");
  test::WriteRegistryFile(Dir.File("registry.reg"), Dir.File("config.xml"),
                          {{1, thermometer.SlavePath()}, {2, Dir.File("no-device")}});
  auto environment = Environment(Manager.Path());
  environment["WATCHDOG_USEC"] = "300000";
  test::TChildProcess service({test::BinPath("duzezevovivo")}, environment, Dir.File("work"));
  ASSERT_TRUE(Manager.WaitFor("READY=1", 10s)) << service.Stderr();
  EXPECT_TRUE(Manager.WaitFor("WATCHDOG=1", 5s));
  // The second line is the first that the condition evaluates.
  thermometer.Write("*B1E1+023.5C\r");
  thermometer.Write("*B1E1+023.5C\r");
  EXPECT_TRUE(Manager.WaitFor("STATUS=2 thermometers: Server room 23.5 °C normal; Rack lost", 10s));
  service.Signal(SIGTERM);
  EXPECT_EQ(service.Wait(10s), 0) << service.Stderr();
}

TEST_F(ServiceTest, StartWithoutServiceManagerReportsOneErrorAndFails) {
  WriteConfig("<KELVOS/>");
  const test::TRun run = Run({});
  EXPECT_EQ(run.Status, 1);
  const std::vector<test::TEventEntry> events = Events();
  ASSERT_EQ(events.size(), 3u);
  EXPECT_EQ(events[0].Text, "Create");
  EXPECT_EQ(events[1].Source, "duzezevovivo");
  EXPECT_EQ(events[1].Type, 1u);
  EXPECT_EQ(events[1].Category, 0u);
  EXPECT_EQ(events[1].Text, "Connection refused");
  EXPECT_EQ(events[2].Text, "Destroy");
  EXPECT_EQ(
      run.Err,
      "duzezevovivo runs as the systemd service Deredoru; to watch in this terminal run it with -debug, "
      "to install the service run it with -install (see -help)\n");
}

// Answered at once, without a module, an event or a log file.
TEST_F(ServiceTest, HelpAndVersionAnswerAndExit) {
  for (const Texts& arguments : {Texts{"-help"}, Texts{"--help"}, Texts{"-h"}, Texts{"/?"}}) {
    const test::TRun run = Run(arguments);
    EXPECT_EQ(run.Status, 0) << arguments[0];
    for (const char* text :
         {"-debug", "-install", "-uninstall", "-silent", "-check [FILE]", "-testmail", "-version",
          "DUZEZEVOVIVO_REGISTRY", "DUZEZEVOVIVO_EVENTLOG", "DUZEZEVOVIVO_SHUTDOWN_COMMAND",
          "DUZEZEVOVIVO_UNIT_DIR", "journalctl -t Deredoru", "/var/lib/duzezevovivo"})
      EXPECT_NE(run.Out.find(text), std::string::npos) << arguments[0] << ": " << text;
    EXPECT_NE(run.Out.find("\n  " + Dir.File("registry.reg") + "\n"), std::string::npos)
        << "the registry that applies";
  }
  const test::TRun version = Run({"--version"});
  EXPECT_EQ(version.Status, 0);
  EXPECT_EQ(version.Out.rfind("duzezevovivo ", 0), 0u) << version.Out;
  EXPECT_TRUE(Events().empty());
  EXPECT_TRUE(fs::is_empty(Dir.File("work"))) << "no log file";
}

TEST_F(ServiceTest, InstallAndUninstallReportOnTheConsole) {
  WriteConfig("<KELVOS/>");
  const std::string executable = fs::canonical(test::BinPath("duzezevovivo")).string();

  test::TRun run = Run({"-install"});
  EXPECT_EQ(run.Status, 0);
  EXPECT_EQ(run.Out, "Service installed successfully\n");
  EXPECT_EQ(run.Err, "");
  const std::string unit = test::ReadFile(Unit());
  for (const std::string& line :
       Texts{"Description=Kelvo watch service", "Type=notify", "ExecStart=\"" + executable + "\"",
             "ExecStartPre=\"" + executable + "\" -check", "WorkingDirectory=/var/lib/duzezevovivo",
             "StateDirectory=duzezevovivo", "Restart=on-failure", "WatchdogSec=30",
             "WantedBy=multi-user.target"})
    EXPECT_NE(unit.find("\n" + line + "\n"), std::string::npos) << line << "\n" << unit;
  {
    test::TScopedEnv registry("DUZEZEVOVIVO_REGISTRY", Dir.File("registry.reg"));
    EXPECT_EQ(ReadRegistryString("SYSTEM\\CurrentControlSet\\Services\\Eventlog\\Application\\Deredoru",
                                 "EventMessageFile"),
              executable);
  }

  const std::string registryBefore = Dir.Read("registry.reg");
  const std::string exists = std::string(InstallFailure) + "\"System Error.  Code: 17.\r\nFile exists\"\n";
  for (const Texts& arguments : {Texts{"-install"}, Texts{"/UNINSTALL", "/Install"}}) {
    run = Run(arguments);
    EXPECT_EQ(run.Status, 1) << arguments.size() << " arguments";
    EXPECT_EQ(run.Out, "");
    EXPECT_EQ(run.Err, exists);
  }
  EXPECT_EQ(test::ReadFile(Unit()), unit);
  EXPECT_EQ(Dir.Read("registry.reg"), registryBefore);

  run = Run({"-uninstall"});
  EXPECT_EQ(run.Status, 0);
  EXPECT_EQ(run.Out, "Service uninstalled successfully\n");
  EXPECT_FALSE(fs::exists(Unit()));

  run = Run({"-uninstall"});
  EXPECT_EQ(run.Status, 1);
  EXPECT_EQ(run.Err,
            std::string(UninstallFailure) + "\"System Error.  Code: 2.\r\nNo such file or directory\"\n");

  // Every run, the installing ones included, is one module's life.
  Texts lifeCycles;
  for (int i = 0; i < 5; ++i) lifeCycles.insert(lifeCycles.end(), {"Create", "Destroy"});
  EXPECT_EQ(ServiceEvents(), lifeCycles);
}

TEST_F(ServiceTest, SilentHidesSuccessButNotFailure) {
  WriteConfig("<KELVOS/>");
  struct TCase {
    const char* Label;
    Texts Arguments;
    int Status;
    std::string Out, Err;
  };
  const TCase cases[] = {
      {"install", {"/INSTALL", "-silent"}, 0, "", ""},
      {"install again",
       {"-install", "/Silent"},
       1,
       "",
       std::string(InstallFailure) + "\"System Error.  Code: 17.\r\nFile exists\"\n"},
      {"uninstall", {"-uninstall", "-silent"}, 0, "", ""},
      {"uninstall again",
       {"-silent", "-uninstall"},
       1,
       "",
       std::string(UninstallFailure) + "\"System Error.  Code: 2.\r\nNo such file or directory\"\n"},
  };
  for (const TCase& c : cases) {
    const test::TRun run = Run(c.Arguments);
    EXPECT_EQ(run.Status, c.Status) << c.Label;
    EXPECT_EQ(run.Out, c.Out) << c.Label;
    EXPECT_EQ(run.Err, c.Err) << c.Label;
  }
}

// From a directory whose name needs quoting and holds a specifier, so that the escaping is checked
// by systemd's own parser. The manual page the unit names is not installed here. The unit keeps the
// service in its sandbox: a change that drops a setting raises the exposure systemd rates above 3.0
// (2.8 with the sandbox, 9.6 without).
TEST_F(ServiceTest, WrittenUnitPassesSystemdVerificationAndKeepsItsSandbox) {
  if (system("command -v systemd-analyze >/dev/null 2>&1") != 0) GTEST_SKIP() << "systemd-analyze is missing";
  const fs::path odd = Dir.Path() / "odd dir %n";
  fs::create_directory(odd);
  fs::copy_file(test::BinPath("duzezevovivo"), odd / "duzezevovivo");
  ASSERT_EQ(Run({"-install", "-silent"}, (odd / "duzezevovivo").string()).Status, 0);
  test::TChildProcess verify({"systemd-analyze", "verify", "--man=no", Unit()},
                             {{"SYSTEMD_LOG_LEVEL", "warning"}});
  EXPECT_EQ(verify.Wait(60s), 0) << verify.Stderr() << "\n" << test::ReadFile(Unit());
  test::TChildProcess rate({"systemd-analyze", "security", "--offline=true", "--threshold=30", Unit()});
  EXPECT_EQ(rate.Wait(60s), 0) << rate.Stdout() << rate.Stderr();
}

// The shutdown under the unit's sandbox: systemd runs the program with every sandbox setting of the
// unit, and a reading past the off limit starts the shutdown command, which reaches PID 1 over its
// socket as systemctl poweroff would. The files lie in /var/lib, which the sandbox leaves visible.
TEST_F(ServiceTest, ShutdownCommandRunsAndReachesSystemdInsideTheUnitsSandbox) {
  if (access("/run/systemd/system", F_OK) != 0)
    GTEST_SKIP() << "systemd is not running here (not PID 1), so systemd-run cannot apply the unit's "
                    "settings; WrittenUnitPassesSystemdVerificationAndKeepsItsSandbox rates them instead";
  ASSERT_EQ(Run({"-install", "-silent"}).Status, 0);
  std::vector<std::string> argv{"systemd-run", "--pipe", "--wait", "--quiet", "-p", "RuntimeMaxSec=30"};
  bool service = false;
  for (std::string line; const char c : test::ReadFile(Unit()) + "\n") {
    if (c != '\n') {
      line += c;
      continue;
    }
    if (line.starts_with("[")) service = line == "[Service]";
    const std::string key = line.substr(0, line.find('='));
    const bool own = key == "Type" || key.starts_with("Exec") || key == "WorkingDirectory" ||
                     key == "StateDirectory" || key == "Restart" || key == "WatchdogSec";
    if (service && !own && line.find('=') != std::string::npos && !line.starts_with("#"))
      argv.insert(argv.end(), {"-p", line});
    line.clear();
  }
  char pattern[] = "/var/lib/duzezevovivo-sandbox-XXXXXX";
  ASSERT_NE(mkdtemp(pattern), nullptr);
  const fs::path dir = pattern;
  const struct TRemover {
    fs::path Path;
    ~TRemover() { fs::remove_all(Path); }
  } remover{dir};
  fs::copy_file(test::BinPath("duzezevovivo"), dir / "duzezevovivo");
  const std::string script = (dir / "shutdown").string();
  test::WriteFile(script,
                  "#!/bin/sh\nsystemctl show --property=Version >/dev/null && echo \"shutdown $1\"\n");
  fs::permissions(script, fs::perms::owner_all);
  test::TPty pty;
  test::WriteFile((dir / "config.xml").string(),
                  "<config><SHUTDOWN type=\"DEFAULT\" value=\"1\"/><KELVO comport=\"1\" "
                  "caption=\"Room\"><CONDITION><off value=\"50\" wait=\"0.001\"/></CONDITION>"
                  "</KELVO></config>");
  test::WriteRegistryFile((dir / "registry.reg").string(), (dir / "config.xml").string(),
                          {{1, pty.SlavePath()}});
  for (const auto& [name, value] :
       std::map<std::string, std::string>{{"DUZEZEVOVIVO_REGISTRY", (dir / "registry.reg").string()},
                                          {"DUZEZEVOVIVO_EVENTLOG", (dir / "events.log").string()},
                                          {"DUZEZEVOVIVO_SHUTDOWN_COMMAND", script}})
    argv.insert(argv.end(), {"-E", name + "=" + value});
  argv.insert(argv.end(), {(dir / "duzezevovivo").string(), "-debug"});
  test::TChildProcess run(argv);
  ASSERT_TRUE(run.WaitForOutput("[Room] Kelvo created", 15s)) << run.Stdout() << run.Stderr();
  pty.Write("*B1E1+020.0C\r*B1E1+060.0C\r");
  EXPECT_TRUE(run.WaitForOutput("shutdown 1", 15s)) << run.Stdout() << run.Stderr();
  run.Signal(SIGTERM);
  run.Wait(20s);
}

}  // namespace
}  // namespace duz
