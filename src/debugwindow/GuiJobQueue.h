#pragma once
// TGuiJobQueue: jobs of other threads run on the GUI thread, in the order posted. The jobs cross in
// a queue of our own under FLock, where ThreadSanitizer sees every hand-over (Qt's event queue
// synchronises in code it cannot see); Qt only wakes the GUI thread, by a queued call of a named
// slot that carries nothing of ours.
// Created on the GUI thread with Create(); Post and Run from any thread; Close on the GUI thread.
// It lives while anyone holds it, and is deleted on the GUI thread.
#include <QObject>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>

#include "base/Mutex.h"

namespace duz {

class TGuiJobQueue : public QObject {
  Q_OBJECT

 public:
  static std::shared_ptr<TGuiJobQueue> Create();

  void Post(std::function<void()> job);
  // Runs the job on the GUI thread and returns once it has run (at once on the GUI thread), or once
  // the queue is closed.
  void Run(const std::function<void()>& job);
  // Jobs not yet run are dropped, later ones are not taken, and whoever waits in Run returns.
  void Close();

 private:
  TGuiJobQueue() = default;
  // Returns the job's ticket; 0 when closed.
  uint64_t Add(std::function<void()> job);
  Q_INVOKABLE void RunPosted();

  TMutex FLock;
  std::condition_variable FRan;
  std::deque<std::function<void()>> FJobs GUARDED_BY(FLock);
  uint64_t FPosted GUARDED_BY(FLock) = 0;
  uint64_t FDone GUARDED_BY(FLock) = 0;
  bool FClosed GUARDED_BY(FLock) = false;
};

}  // namespace duz
