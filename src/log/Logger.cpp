#include "log/Logger.h"

#include <memory>

#include "base/Clock.h"
#include "base/MutexLock.h"
#include "log/LogQueue.h"
#include "log/ThreadLogger.h"

namespace duz {
namespace {

using namespace std::chrono_literals;

// Never destroyed: threads may still log while the process exits.
TLogQueue& Queue() {
  static TLogQueue& queue = *new TLogQueue;
  return queue;
}

TMutex StartStopLock;
std::unique_ptr<TThreadLogger> ThreadLogger GUARDED_BY(StartStopLock);

TMutex ViewLock;
TLogViewHook ViewHook GUARDED_BY(ViewLock);
TLogViewInvoker ViewInvoker GUARDED_BY(ViewLock);

TLogViewHook CurrentHook() {
  TMutexLock lock(ViewLock);
  return ViewHook;
}

void ShowLinesInView(TThreadLogger::TLines lines) {
  TLogViewInvoker invoker;
  {
    TMutexLock lock(ViewLock);
    if (!ViewHook) return;
    invoker = ViewInvoker;
  }
  auto job = [lines] {
    TLogViewHook hook = CurrentHook();  // the view may have let go of the hook meanwhile
    if (!hook) return;
    for (const TLogEntry::TPtr& line : lines) hook(std::string(line->Text()), line->Time());
  };
  try {
    if (invoker)
      invoker(job);
    else
      job();
  } catch (const std::exception&) {
    // A failing view must not stop the writer.
  }
}

}  // namespace

void WriteLog(const std::string& text) {
  try {
    Queue().Push(TLogEntry::Create(Now(), text));
  } catch (const std::exception&) {
    // Logging never fails its caller; a line that cannot be stamped or stored is lost.
  }
}

void StartLogger() {
  TMutexLock lock(StartStopLock);
  if (ThreadLogger) return;
  Queue().Open();
  ThreadLogger = std::make_unique<TThreadLogger>(Queue(), ShowLinesInView);
  ThreadLogger->Start();
}

void StopLogger(const std::function<void()>& pump) {
  TMutexLock lock(StartStopLock);
  if (!ThreadLogger) return;
  Queue().Close();
  ThreadLogger->Terminate();
  if (pump)
    while (!ThreadLogger->WaitForEnd(10ms)) pump();
  ThreadLogger->WaitFor();
  ThreadLogger.reset();
}

void SetLogViewHook(TLogViewHook hook, TLogViewInvoker invoker) {
  TMutexLock lock(ViewLock);
  ViewHook = std::move(hook);
  ViewInvoker = std::move(invoker);
}

}  // namespace duz
