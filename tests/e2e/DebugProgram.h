#pragma once
// Shared ground of the end-to-end tests: the real program in -debug mode (terminal view) on a
// configuration of the test, with a thermometer on a pseudo-terminal as COM1 and its own registry
// file, event-log file and working directory (where log files and relative saves land).
#include <gtest/gtest.h>
#include <signal.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "support/Env.h"
#include "support/Process.h"
#include "support/Pty.h"
#include "support/RegistryFile.h"
#include "support/TempDir.h"

namespace duz::test {

class TDebugProgram {
 public:
  TDebugProgram() {
    std::filesystem::create_directories(Dir.File("work"));
    WriteRegistryFile(Dir.File("registry.reg"), Dir.File("config.xml"), {{1, Pty.SlavePath()}});
  }
  ~TDebugProgram() { Stop(); }

  // Starts the program on the configuration with the environment additions (an empty value
  // removes a variable); prefix wraps the program (unshare, prlimit). Returns once the
  // thermometer Room exists.
  ::testing::AssertionResult Start(const std::string& config, std::map<std::string, std::string> env = {},
                                   const std::vector<std::string>& prefix = {}) {
    Dir.Write("config.xml", config);
    std::map<std::string, std::string> all{{"DUZEZEVOVIVO_REGISTRY", Dir.File("registry.reg")},
                                           {"DUZEZEVOVIVO_EVENTLOG", Dir.File("events.log")},
                                           {"DUZEZEVOVIVO_SHUTDOWN_COMMAND", "true"},
                                           {"DISPLAY", ""},
                                           {"WAYLAND_DISPLAY", ""},
                                           {"QT_QPA_PLATFORM", ""}};
    env.merge(all);  // the test's own values win
    std::vector<std::string> argv = prefix;
    argv.push_back(BinPath("duzezevovivo"));
    argv.push_back("-debug");
    Program = std::make_unique<TChildProcess>(argv, env, Dir.File("work"));
    if (Program->WaitForOutput("[Room] Kelvo created", std::chrono::seconds(15)))
      return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure() << Program->Stdout() << Program->Stderr();
  }

  // SIGTERM, and the exit status 0 it must give.
  void Stop() {
    if (!Program) return;
    Program->Signal(SIGTERM);
    EXPECT_EQ(Program->Wait(std::chrono::seconds(10)), 0) << Program->Stderr();
    Program.reset();
  }

  TTempDir Dir;
  TPty Pty;
  std::unique_ptr<TChildProcess> Program;
};

}  // namespace duz::test
