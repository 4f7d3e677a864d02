#include "net/Outbox.h"

#include <fmt/format.h>

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <deque>
#include <utility>

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
};

}  // namespace

struct TOutbox::TState {
  TState(std::string name, TEventLogger events) : Name(std::move(name)), Events(std::move(events)) {}

  // Queues the job, pushing the oldest out at the bound; after Close the job is dropped.
  void Add(TMonotonicTime due, std::unique_ptr<TOutboxJob> job) {
    std::unique_ptr<TOutboxJob> dropped;
    bool firstDrop = false;
    {
      TMutexLock lock(Lock);
      if (Closed) return;
      if (Queue.size() >= MaxQueued) {
        dropped = std::move(Queue.front().Job);
        Queue.pop_front();
        firstDrop = !std::exchange(Warned, true);
      }
      Queue.push_back({due, std::move(job)});
    }
    Wake.notify_all();
    if (!dropped) return;
    DebugLog(dropped->DroppedLine());
    if (firstDrop)
      Events.LogEvent(
          fmt::format("{} outbox full: more than {} waiting, the oldest are dropped", Name, MaxQueued),
          EVENTLOG_WARNING_TYPE, 0, 0);
  }

  const std::string Name;
  const TEventLogger Events;
  TMutex Lock;
  std::condition_variable Wake;  // a job queued, the outbox closed, the worker ended
  std::deque<TEntry> Queue GUARDED_BY(Lock);
  bool Running GUARDED_BY(Lock) = false;
  bool Closed GUARDED_BY(Lock) = false;
  bool Ended GUARDED_BY(Lock) = false;
  bool Warned GUARDED_BY(Lock) = false;  // the bound's warning has gone to the event log
  std::chrono::steady_clock::time_point ClosedAt GUARDED_BY(Lock);
};

TOutbox::TOutbox(std::string name, TEventLogger events)
    : FState(std::make_shared<TState>(std::move(name), std::move(events))), FWorker(Work, FState) {}

TOutbox::~TOutbox() {
  Close();
  bool ended;
  {
    TMutexLock lock(FState->Lock);
    const auto abandonAt = FState->ClosedAt + AbandonAfter;
    while (!FState->Ended && FState->Lock.WaitUntil(FState->Wake, abandonAt) == std::cv_status::no_timeout) {
    }
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
  {
    TMutexLock lock(FState->Lock);
    if (FState->Closed) return;
    FState->Closed = true;
    FState->ClosedAt = std::chrono::steady_clock::now();
    dropped.swap(FState->Queue);
  }
  FState->Wake.notify_all();
  if (!dropped.empty())
    FState->Events.LogEvent(fmt::format("{} outbox closed: {} waiting dropped", FState->Name, dropped.size()),
                            EVENTLOG_WARNING_TYPE, 0, 0);
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
  }
  state->Ended = true;
  state->Lock.Unlock();
  state->Wake.notify_all();
}

}  // namespace duz
