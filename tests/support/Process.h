#pragma once
// A program started by a test (the real binary, a simulator, a fake server): its own environment
// additions (an empty value removes the variable) and working directory, stdout and stderr captured in files,
// stopped at the end.
#include <chrono>
#include <cstdint>
#include <map>
#include <string>
#include <vector>

namespace duz::test {

// The blocked and ignored signals in the text of a /proc/<pid>/status file (signal n is bit n - 1),
// without the two that the C library keeps for itself (32 and 33).
struct TSignalMasks {
  uint64_t Blocked = ~0ull;
  uint64_t Ignored = ~0ull;
};
TSignalMasks SignalMasks(const std::string& status);

// Path of a program built by the project (build/bin/<name>); tests get DUZ_BIN_DIR from CTest.
std::string BinPath(const std::string& name);

class TChildProcess {
 public:
  TChildProcess(std::vector<std::string> argv, std::map<std::string, std::string> env = {},
                std::string workingDirectory = "");
  ~TChildProcess();  // SIGKILL if still running

  int Pid() const { return FPid; }
  std::string Stdout() const;
  std::string Stderr() const;
  // Waits until stdout contains the text (or the time-out passes).
  bool WaitForOutput(const std::string& text, std::chrono::milliseconds timeout) const;
  void Signal(int signal) const;
  // The exit status, or -1 after the time-out (the process is then still running).
  int Wait(std::chrono::milliseconds timeout);

 private:
  int FPid = -1;
  int FStatus = -1;
  std::string FOutPath, FErrPath;
};

// What a program that ran to its end left: its exit status (-1 when it did not end within the
// time-out, and was then killed), stdout and stderr.
struct TRun {
  int Status;
  std::string Out, Err;
};
TRun RunToEnd(const std::vector<std::string>& argv, const std::map<std::string, std::string>& env = {},
              const std::string& workingDirectory = "",
              std::chrono::milliseconds timeout = std::chrono::seconds(60));

}  // namespace duz::test
