#include "net/Outbox.h"

#include <fmt/format.h>

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <deque>
#include <utility>
#include <vector>

#include "base/Clock.h"
#include "base/MutexLock.h"
#include "log/Logger.h"
#include "log/ThreadUtils.h"

namespace duz {
namespace {

// The one reading of the clock that retries run on: the settable monotonic clock, so that tests
// move it instead of waiting, and a step of the wall clock neither delays nor hurries a retry.
TMonotonicTime DueAfter(std::chrono::seconds pause) { return MonotonicNow() + pause; }

std::atomic<bool> LeftBehind{false};

struct TEntry {
  TMonotonicTime Due;
  std::unique_ptr<TOutboxJob> Job;
  std::shared_ptr<const TOutboxJob> Copy;  // of the job as queued; empty for one not worth keeping
};

}  // namespace

struct TOutbox::TState {
  TState(std::string name, TEventLogger events, std::function<void()> onChange)
      : Name(std::move(name)), Events(std::move(events)), OnChange(std::move(onChange)) {}

  // Queues the job, pushing the oldest out at the bound; after Close the job is dropped, and its
  // copy kept.
  void Add(TMonotonicTime due, std::unique_ptr<TOutboxJob> job) {
    std::shared_ptr<const TOutboxJob> copy = job->Copy();
    std::unique_ptr<TOutboxJob> dropped;
    bool firstDrop = false;
    {
      TMutexLock lock(Lock);
      if (Closed) {
        if (copy) DroppedCopies.push_back(std::move(copy));
        return;
      }
      if (Queue.size() >= MaxQueued) {
        dropped = std::move(Queue.front().Job);
        Queue.pop_front();
        firstDrop = !std::exchange(Warned, true);
      }
      Queue.push_back({due, std::move(job), std::move(copy)});
      Changed();
    }
    Wake.notify_all();
    if (!dropped) return;
    DebugLog(dropped->DroppedLine());
    if (firstDrop)
      Events.LogEvent(
          fmt::format("{} outbox full: more than {} waiting, the oldest are dropped", Name, MaxQueued),
          EVENTLOG_WARNING_TYPE, 0, 0);
  }

  void Changed() REQUIRES(Lock) {
    if (OnChange && !Closed) OnChange();
  }

  const std::string Name;
  const TEventLogger Events;
  const std::function<void()> OnChange;
  TMutex Lock;
  std::condition_variable Wake;  // a job queued, the outbox closed, the worker ended
  std::deque<TEntry> Queue GUARDED_BY(Lock);
  std::shared_ptr<const TOutboxJob> RunningCopy GUARDED_BY(Lock);
  std::vector<std::shared_ptr<const TOutboxJob>> DroppedCopies GUARDED_BY(Lock);  // of jobs Close cut short
  bool Running GUARDED_BY(Lock) = false;
  bool Closed GUARDED_BY(Lock) = false;
  bool Ended GUARDED_BY(Lock) = false;
  bool Warned GUARDED_BY(Lock) = false;  // the bound's warning has gone to the event log
  std::chrono::steady_clock::time_point ClosedAt GUARDED_BY(Lock);
};

TOutbox::TOutbox(std::string name, TEventLogger events, std::function<void()> onChange)
    : FState(std::make_shared<TState>(std::move(name), std::move(events), std::move(onChange))),
      FWorker(Work, FState) {}

TOutbox::~TOutbox() {
  Close();
  WaitForWorker();
  bool ended;
  {
    TMutexLock lock(FState->Lock);
    ended = FState->Ended;
  }
  // A worker still in a network wait keeps its own state alive and ends when the wait does.
  if (ended) {
    FWorker.join();
  } else {
    LeftBehind = true;
    FWorker.detach();
  }
}

bool TOutbox::WorkerLeftBehind() { return LeftBehind; }

void TOutbox::Enqueue(std::unique_ptr<TOutboxJob> job) {
  FState->Add(DueAfter(std::chrono::seconds(0)), std::move(job));
}

std::size_t TOutbox::Pending() const {
  TMutexLock lock(FState->Lock);
  return FState->Queue.size() + (FState->Running ? 1 : 0);
}

void TOutbox::Close() {
  std::deque<TEntry> dropped;
  size_t lost = 0;
  {
    TMutexLock lock(FState->Lock);
    if (FState->Closed) return;
    FState->Closed = true;
    FState->ClosedAt = std::chrono::steady_clock::now();
    dropped.swap(FState->Queue);
    for (TEntry& entry : dropped)
      if (entry.Copy)
        FState->DroppedCopies.push_back(std::move(entry.Copy));
      else
        ++lost;
  }
  FState->Wake.notify_all();
  if (lost)
    FState->Events.LogEvent(fmt::format("{} outbox closed: {} waiting dropped", FState->Name, lost),
                            EVENTLOG_WARNING_TYPE, 0, 0);
}

void TOutbox::WaitForWorker() {
  TMutexLock lock(FState->Lock);
  const auto abandonAt = FState->ClosedAt + AbandonAfter;
  while (!FState->Ended && FState->Lock.WaitUntil(FState->Wake, abandonAt) == std::cv_status::no_timeout) {
  }
}

std::vector<std::shared_ptr<const TOutboxJob>> TOutbox::Unfinished() const {
  TMutexLock lock(FState->Lock);
  std::vector<std::shared_ptr<const TOutboxJob>> copies;
  if (FState->RunningCopy) copies.push_back(FState->RunningCopy);
  copies.insert(copies.end(), FState->DroppedCopies.begin(), FState->DroppedCopies.end());
  for (const TEntry& entry : FState->Queue)
    if (entry.Copy) copies.push_back(entry.Copy);
  return copies;
}

void TOutbox::Work(std::shared_ptr<TState> state) {
  SetThreadName(state->Name + " outbox");
  state->Lock.Lock();
  while (!state->Closed) {
    const TMonotonicTime now = DueAfter(std::chrono::seconds(0));
    const auto due = std::find_if(state->Queue.begin(), state->Queue.end(),
                                  [now](const TEntry& entry) { return entry.Due <= now; });
    if (due == state->Queue.end()) {
      // Only a retry's pause needs the clock looked at again; tests may have moved it.
      if (state->Queue.empty())
        state->Lock.Wait(state->Wake);
      else
        state->Lock.WaitUntil(state->Wake, std::chrono::steady_clock::now() + RecheckPeriod);
      continue;
    }
    std::unique_ptr<TOutboxJob> job = std::move(due->Job);
    state->RunningCopy = std::move(due->Copy);
    state->Queue.erase(due);
    state->Running = true;
    state->Lock.Unlock();
    std::optional<std::chrono::seconds> pause;
    try {
      pause = job->Attempt(state->Events);
    } catch (...) {
      // Nothing escapes the worker; a job that fails this way is done.
    }
    if (pause) state->Add(DueAfter(*pause), std::move(job));
    job.reset();
    state->Lock.Lock();
    state->Running = false;
    // Queued again or done, the running job has no copy of its own any more.
    state->RunningCopy.reset();
    if (!pause) state->Changed();
  }
  state->Ended = true;
  state->Lock.Unlock();
  state->Wake.notify_all();
}

}  // namespace duz
