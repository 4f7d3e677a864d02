#pragma once
// TThreadRunner: a thread that runs one procedure, handing it the runner so that it can poll
// Terminated(). Starts at once; never frees itself; the creator terminates, waits and deletes it.
// An exception that escapes the procedure ends the thread quietly.
#include <functional>

#include "base/Thread.h"

namespace duz {

class TThreadRunner : public TThread {
 public:
  using TProc = std::function<void(TThreadRunner& thread)>;
  explicit TThreadRunner(TProc proc);
  ~TThreadRunner() override;

 protected:
  void Execute() override;

 private:
  TProc FProc;
};

}  // namespace duz
