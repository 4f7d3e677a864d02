#pragma once
// Shared ground of the end-to-end tests: the real program in -debug mode (terminal view) on a
// configuration of the test, with thermometers on pseudo-terminals as COM1 and COM2 and its own
// registry file, event-log file and working directory (where log files and relative saves land).
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
    WriteRegistryFile(Dir.File("registry.reg"), Dir.File("config.xml"),
                      {{1, Pty.SlavePath()}, {2, Pty2.SlavePath()}});
  }
  ~TDebugProgram() { Stop(); }

  // Start, returning once the thermometer Room exists.
  ::testing::AssertionResult Start(const std::string& config, std::map<std::string, std::string> env = {},
                                   const std::vector<std::string>& prefix = {}) {
    Launch(config, std::move(env), prefix);
    return WaitCreated("Room");
  }

  // Starts the program on the configuration with the environment additions (an empty value
  // removes a variable); prefix wraps the program (unshare, prlimit). A program started before
  // must have ended.
  void Launch(const std::string& config, std::map<std::string, std::string> env = {},
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
  }

  // Waits until the thermometer of that caption exists.
  ::testing::AssertionResult WaitCreated(const std::string& caption) {
    if (Program->WaitForOutput("[" + caption + "] Kelvo created", std::chrono::seconds(15)))
      return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure() << Program->Stdout() << Program->Stderr();
  }

  // SIGTERM unless the program has ended, and the exit status 0 it must give.
  void Stop() {
    if (!Program) return;
    if (Program->Wait(std::chrono::milliseconds(0)) == -1) Program->Signal(SIGTERM);
    EXPECT_EQ(Program->Wait(std::chrono::seconds(10)), 0) << Program->Stderr();
    Program.reset();
  }

  TTempDir Dir;
  TPty Pty, Pty2;  // COM1, COM2
  std::unique_ptr<TChildProcess> Program;
};

}  // namespace duz::test
