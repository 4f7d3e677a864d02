#pragma once
// TOutbox: one worker thread that runs network jobs (e-mails, HTTP requests) one after another from
// a FIFO queue, so that the threads that queue them, the owner and tick threads, never wait for a
// network peer. A job holds copies of everything it needs and never refers to the object that
// queued it, so that object may go while its job waits or runs.
// Enqueue, Pending and Close may be called from any thread; jobs run on the worker.
// Bound: MaxQueued jobs wait, those waiting for a retry included; a job queued beyond it pushes the
// oldest out, which is dropped with its DroppedLine in debug mode and, once per outbox, an
// event-log warning.
// Retries: an attempt may ask for another after a pause. Pauses run on the settable clock, which
// the worker reads again at least every RecheckPeriod while a retry waits.
// Unfinished jobs: a job that is worth taking up again in a later run of the program (an alarm) gives
// a copy of itself whenever it is queued; Unfinished() hands out the copies of the jobs waiting and
// of the one running, so that the copies of those that a crash or the end of the program cuts short
// can be kept. A copy is made on the thread that owns the job at that moment (the one that queues it,
// or the worker after an attempt), never while the job runs.
// End: Close drops the waiting jobs (their copies stay); the destructor, or WaitForWorker before it,
// waits for the running one until AbandonAfter past Close, then leaves the worker behind, which ends
// by itself when that attempt returns. Such a worker may still be inside libcurl or OpenSSL when the
// program ends, so the program must then end without the exit handlers that free their state
// (WorkerLeftBehind).
#include <chrono>
#include <cstddef>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "base/EventLogger.h"

namespace duz {

class TOutboxJob {
 public:
  virtual ~TOutboxJob() = default;
  // Worker thread: one attempt. Returns the pause before the next attempt, or nothing when the job
  // is done (or given up). What the operator must learn goes to events.
  virtual std::optional<std::chrono::seconds> Attempt(const TEventLogger& events) = 0;
  // The debug-mode line that tells of the job dropped at the bound.
  virtual std::string DroppedLine() const = 0;
  // A copy of the job as it stands, for a later run of the program; nothing for a job that is not
  // worth it (the next periodic run replaces it).
  virtual std::unique_ptr<TOutboxJob> Copy() const { return nullptr; }
};

class TOutbox {
 public:
  static constexpr std::size_t MaxQueued = 1000;
  static constexpr std::chrono::seconds AbandonAfter{2};
  static constexpr std::chrono::milliseconds RecheckPeriod{200};

  // name: the outbox in its event-log entries and its thread's name ("E-mail", "HTTP"). onChange,
  // when given, is called after a job was queued, queued again or done, until Close, so that its owner
  // may keep the unfinished ones: on any thread, under the outbox's lock, so it must be quick and
  // must not call the outbox.
  TOutbox(std::string name, TEventLogger events, std::function<void()> onChange = {});
  ~TOutbox();
  TOutbox(const TOutbox&) = delete;
  TOutbox& operator=(const TOutbox&) = delete;

  // Queues the job for a first attempt now; after Close it is dropped.
  void Enqueue(std::unique_ptr<TOutboxJob> job);
  // Jobs waiting or running.
  std::size_t Pending() const;
  // Takes no more jobs, drops the waiting ones (an event-log warning tells how many of those without a
  // copy) and lets the worker end after its current attempt.
  void Close();
  // After Close: waits until the worker has ended, at most until AbandonAfter past Close.
  void WaitForWorker();
  // Any thread: the copies of the jobs not done yet (waiting, also those Close dropped, and running),
  // in the order they were queued, the running one first.
  std::vector<std::shared_ptr<const TOutboxJob>> Unfinished() const;

  // Any thread: whether some outbox of this process has left a worker behind.
  static bool WorkerLeftBehind();

 private:
  struct TState;
  static void Work(std::shared_ptr<TState> state);

  std::shared_ptr<TState> FState;  // shared with the worker, which may outlive the outbox
  std::thread FWorker;
};

}  // namespace duz
