#include "debugwindow/GuiJobQueue.h"

#include <QThread>

#include "base/MutexLock.h"

namespace duz {

std::shared_ptr<TGuiJobQueue> TGuiJobQueue::Create() {
  // Deleted on the GUI thread: directly there, else through its event loop.
  return std::shared_ptr<TGuiJobQueue>(new TGuiJobQueue, [](TGuiJobQueue* queue) {
    if (QThread::currentThread() == queue->thread())
      delete queue;
    else
      queue->deleteLater();
  });
}

void TGuiJobQueue::Post(std::function<void()> job) { Add(std::move(job)); }

void TGuiJobQueue::Run(const std::function<void()>& job) {
  if (QThread::currentThread() == thread()) {
    job();  // waiting for ourselves would never end
    return;
  }
  const uint64_t ticket = Add([&job] { job(); });
  TMutexLock lock(FLock);
  while (!FClosed && FDone < ticket) FLock.Wait(FRan);
}

void TGuiJobQueue::Close() {
  {
    TMutexLock lock(FLock);
    FClosed = true;
    FJobs.clear();
  }
  FRan.notify_all();
}

uint64_t TGuiJobQueue::Add(std::function<void()> job) {
  bool wake;
  uint64_t ticket;
  {
    TMutexLock lock(FLock);
    if (FClosed) return 0;
    wake = FJobs.empty();
    FJobs.push_back(std::move(job));
    ticket = ++FPosted;
  }
  if (wake) QMetaObject::invokeMethod(this, "RunPosted", Qt::QueuedConnection);
  return ticket;
}

void TGuiJobQueue::RunPosted() {
  FLock.Lock();
  while (!FJobs.empty()) {
    std::function<void()> job = std::move(FJobs.front());
    FJobs.pop_front();
    FLock.Unlock();
    try {
      job();
    } catch (...) {
      // A failing job must not unwind into Qt's event loop; its poster goes on.
    }
    FLock.Lock();
    ++FDone;
    FRan.notify_all();
  }
  FLock.Unlock();
}

}  // namespace duz
