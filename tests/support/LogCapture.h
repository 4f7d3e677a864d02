#pragma once
// Every log line of a test recorded, in debug mode. Header only: the test programs that use it link
// the log writer.
#include <algorithm>
#include <filesystem>
#include <mutex>
#include <string>
#include <vector>

#include "base/DebugMode.h"
#include "log/Logger.h"
#include "support/TempDir.h"

namespace duz::test {

// Every log line recorded, in debug mode unless debugMode says otherwise (the test then sets it).
// The log files go to a directory of their own, which is the current directory while the capture
// lives.
class TLogCapture {
 public:
  explicit TLogCapture(bool debugMode = true)
      : FOldDir(std::filesystem::current_path()), FDebugMode(debugMode) {
    std::filesystem::current_path(FDir.Path());
    SetLogViewHook([this](const std::string& text, TDateTime) {
      std::lock_guard lock(FLock);
      FLines.push_back(text);
    });
    StartLogger();
    if (FDebugMode) DebugMode = true;
  }
  ~TLogCapture() {
    if (FDebugMode) DebugMode = false;
    StopLogger();
    SetLogViewHook({});
    std::filesystem::current_path(FOldDir);
  }

  // The lines that contain the text, after everything logged so far has been written.
  std::vector<std::string> Lines(const std::string& containing) {
    StopLogger();
    StartLogger();
    std::lock_guard lock(FLock);
    std::vector<std::string> found;
    for (const std::string& line : FLines)
      if (line.find(containing) != std::string::npos) found.push_back(line);
    return found;
  }

  // How many lines written so far are exactly this one; without waiting for the writer, so that a
  // test can wait for a line with it.
  long Count(const std::string& line) {
    std::lock_guard lock(FLock);
    return std::count(FLines.begin(), FLines.end(), line);
  }

 private:
  TTempDir FDir;
  std::filesystem::path FOldDir;
  const bool FDebugMode;
  std::mutex FLock;
  std::vector<std::string> FLines;  // guarded by FLock
};

}  // namespace duz::test
