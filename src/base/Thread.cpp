#include "base/Thread.h"

namespace duz {

TThread::~TThread() {
  if (FThread.joinable()) {
    Terminate();
    WaitFor();
  }
}

void TThread::Start() {
  FThread = std::thread([this] { Run(); });
}

void TThread::WaitFor() {
  if (FThread.joinable() && FThread.get_id() != std::this_thread::get_id()) FThread.join();
}

void TThread::Run() {
  try {
    Execute();
  } catch (...) {
    // Nothing escapes a thread body.
  }
  if (FFreeOnTerminate) {
    FThread.detach();
    delete this;
  }
}

}  // namespace duz
