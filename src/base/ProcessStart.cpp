#include "base/ProcessStart.h"

#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>

#include <thread>

extern char** environ;

namespace duz {

namespace {

// The service blocks its stop signals and ignores SIGPIPE; a program it starts begins as a shell
// would start it: nothing blocked, every signal with its default action.
class TCleanSignals {
 public:
  TCleanSignals() {
    posix_spawnattr_init(&FAttributes);
    sigset_t none, all;
    sigemptyset(&none);
    sigfillset(&all);
    posix_spawnattr_setsigmask(&FAttributes, &none);
    posix_spawnattr_setsigdefault(&FAttributes, &all);
    posix_spawnattr_setflags(&FAttributes, POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);
  }
  ~TCleanSignals() { posix_spawnattr_destroy(&FAttributes); }
  const posix_spawnattr_t* Get() const { return &FAttributes; }

 private:
  posix_spawnattr_t FAttributes;
};

pid_t Spawn(const std::vector<std::string>& argv) {
  if (argv.empty()) return -1;
  std::vector<char*> args;
  for (const auto& arg : argv) args.push_back(const_cast<char*>(arg.c_str()));
  args.push_back(nullptr);
  pid_t pid = -1;
  TCleanSignals signals;
  if (posix_spawnp(&pid, args[0], nullptr, signals.Get(), args.data(), environ) != 0) return -1;
  return pid;
}

int Wait(pid_t pid) {
  int status = 0;
  while (waitpid(pid, &status, 0) < 0) {
    if (errno != EINTR) return -1;
  }
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

}  // namespace

int StartProcess(const std::vector<std::string>& argv, std::function<void(int status)> onExit) {
  pid_t pid = Spawn(argv);
  // Reaped without making the caller wait.
  if (pid > 0)
    std::thread([pid, onExit = std::move(onExit)] {
      const int status = Wait(pid);
      if (onExit) onExit(status);
    }).detach();
  return pid;
}

int RunProcess(const std::vector<std::string>& argv) {
  pid_t pid = Spawn(argv);
  return pid > 0 ? Wait(pid) : -1;
}

}  // namespace duz
