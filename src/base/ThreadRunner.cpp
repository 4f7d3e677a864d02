#include "base/ThreadRunner.h"

namespace duz {

TThreadRunner::TThreadRunner(TProc proc) : FProc(std::move(proc)) { Start(); }

// The body must end before this object's part of it goes; the base destructor would wait too late.
TThreadRunner::~TThreadRunner() {
  Terminate();
  WaitFor();
}

void TThreadRunner::Execute() {
  try {
    if (FProc) FProc(*this);
  } catch (...) {
    // A failing procedure ends the thread quietly; its creator still stops and frees it.
  }
}

}  // namespace duz
