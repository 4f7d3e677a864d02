#pragma once
// TThread: a thread whose body is Execute. The body polls Terminated() and returns when it is set.
// The creator calls Start(), later Terminate() and WaitFor(). A derived class whose body uses its
// own fields does both in its own destructor, before those fields go; the base destructor only
// catches the rest. A thread with FreeOnTerminate deletes itself when its body has returned (then
// nobody may wait for it).
#include <atomic>
#include <thread>

namespace duz {

class TThread {
 public:
  TThread() = default;
  virtual ~TThread();
  TThread(const TThread&) = delete;
  TThread& operator=(const TThread&) = delete;

  void Start();
  void Terminate() { FTerminated = true; }
  bool Terminated() const { return FTerminated; }
  // Blocks until the body has returned. Safe to call more than once.
  void WaitFor();
  void SetFreeOnTerminate(bool value) { FFreeOnTerminate = value; }

 protected:
  virtual void Execute() = 0;

 private:
  void Run();

  std::thread FThread;
  std::atomic<bool> FTerminated{false};
  std::atomic<bool> FFreeOnTerminate{false};
};

}  // namespace duz
