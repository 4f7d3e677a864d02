#include "support/Process.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <stdexcept>
#include <thread>

#include "support/Env.h"
#include "support/TempDir.h"

namespace duz::test {

TSignalMasks SignalMasks(const std::string& status) {
  constexpr uint64_t Internal = 3ull << 31;
  TSignalMasks masks;
  auto field = [&](const std::string& name, uint64_t& mask) {
    const size_t at = status.find(name + ":\t");
    if (at != std::string::npos)
      mask = std::stoull(status.substr(at + name.size() + 2, 16), nullptr, 16) & ~Internal;
  };
  field("SigBlk", masks.Blocked);
  field("SigIgn", masks.Ignored);
  return masks;
}

std::string BinPath(const std::string& name) {
  const char* dir = std::getenv("DUZ_BIN_DIR");
  return std::string(dir ? dir : "build/bin") + "/" + name;
}

TChildProcess::TChildProcess(std::vector<std::string> argv, std::map<std::string, std::string> env,
                             std::string workingDirectory) {
  char outTemplate[] = "/tmp/duz-child-out-XXXXXX";
  char errTemplate[] = "/tmp/duz-child-err-XXXXXX";
  int out = mkstemp(outTemplate), err = mkstemp(errTemplate);
  if (out < 0 || err < 0) throw std::runtime_error("mkstemp failed");
  FOutPath = outTemplate;
  FErrPath = errTemplate;
  FPid = fork();
  if (FPid < 0) throw std::runtime_error("fork failed");
  if (FPid == 0) {
    dup2(out, 1);
    dup2(err, 2);
    int devnull = open("/dev/null", O_RDONLY);
    dup2(devnull, 0);
    sigset_t none;
    sigemptyset(&none);
    sigprocmask(SIG_SETMASK, &none, nullptr);
    for (const auto& [name, value] : env)
      value.empty() ? unsetenv(name.c_str()) : setenv(name.c_str(), value.c_str(), 1);
    if (!workingDirectory.empty() && chdir(workingDirectory.c_str()) != 0) _exit(126);
    std::vector<char*> args;
    for (auto& arg : argv) args.push_back(arg.data());
    args.push_back(nullptr);
    execvp(args[0], args.data());
    _exit(127);
  }
  close(out);
  close(err);
}

TChildProcess::~TChildProcess() {
  if (FPid > 0 && FStatus == -1 && Wait(std::chrono::milliseconds(0)) == -1) {
    kill(FPid, SIGKILL);
    waitpid(FPid, nullptr, 0);
  }
  unlink(FOutPath.c_str());
  unlink(FErrPath.c_str());
}

std::string TChildProcess::Stdout() const { return ReadFile(FOutPath); }
std::string TChildProcess::Stderr() const { return ReadFile(FErrPath); }

bool TChildProcess::WaitForOutput(const std::string& text, std::chrono::milliseconds timeout) const {
  return WaitUntil([&] { return Stdout().find(text) != std::string::npos; }, timeout);
}

void TChildProcess::Signal(int signal) const {
  if (FPid > 0) kill(FPid, signal);
}

int TChildProcess::Wait(std::chrono::milliseconds timeout) {
  if (FStatus != -1) return FStatus;
  auto deadline = std::chrono::steady_clock::now() + timeout;
  do {
    int status = 0;
    pid_t done = waitpid(FPid, &status, WNOHANG);
    if (done == FPid) {
      FStatus = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
      return FStatus;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  } while (std::chrono::steady_clock::now() < deadline);
  return -1;
}

TRun RunToEnd(const std::vector<std::string>& argv, const std::map<std::string, std::string>& env,
              const std::string& workingDirectory, std::chrono::milliseconds timeout) {
  TChildProcess child(argv, env, workingDirectory);
  const int status = child.Wait(timeout);
  return {status, child.Stdout(), child.Stderr()};
}

}  // namespace duz::test
