#pragma once
// TLogQueue: the lines waiting for the log writer. Producers (any thread) push entries; the one
// writer thread waits for them and takes the whole queue at once. The queue accepts lines only
// between Open and Close, which the logger's start and stop call; a closed queue wakes the writer
// at once, so that its last cycle runs without delay. All members are safe from any thread.
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <string_view>
#include <vector>

#include "base/DateTime.h"
#include "base/Mutex.h"

namespace duz {

// One queued line. Its text is stored behind the entry, so that a line costs one allocation.
class TLogEntry {
 public:
  struct TDeleter {
    void operator()(TLogEntry* entry) const;
  };
  using TPtr = std::unique_ptr<TLogEntry, TDeleter>;

  static TPtr Create(TDateTime time, std::string_view text);
  TDateTime Time() const { return FTime; }
  std::string_view Text() const { return {reinterpret_cast<const char*>(this + 1), FSize}; }

 private:
  friend class TLogQueue;
  TLogEntry(TDateTime time, size_t size) : FTime(time), FSize(size) {}

  TDateTime FTime;
  size_t FSize;
  TLogEntry* FNext = nullptr;  // the queue's link, to the entry queued before
};

class TLogQueue {
 public:
  // Entries beyond this many bytes (text and bookkeeping) are dropped and counted, so that a flood
  // of lines (random bytes from a device in debug mode) cannot outgrow memory while the writer
  // catches up.
  static constexpr size_t MaxQueuedBytes = size_t{8} * 1024 * 1024;

  TLogQueue() = default;
  ~TLogQueue();
  TLogQueue(const TLogQueue&) = delete;
  TLogQueue& operator=(const TLogQueue&) = delete;

  // Queues the entry unless the queue is closed or full, in which case the entry is dropped.
  void Push(TLogEntry::TPtr entry);
  // Starts accepting lines; anything left from an earlier run is discarded.
  void Open();
  // Stops accepting lines and wakes the writer.
  void Close();

  // Sleeps for the given time, or less once the queue is closed.
  void Sleep(std::chrono::milliseconds time);
  // Waits until a push has turned the queue non-empty since the last wait (an auto-reset event)
  // or the queue is closed, at most for the given time. Returns false on time-out.
  bool WaitForLines(std::chrono::milliseconds timeout);
  // Takes every queued entry, in queue order.
  std::vector<TLogEntry::TPtr> TakeAll();
  // The number of entries dropped at MaxQueuedBytes since the last call.
  uint64_t TakeDropped();

 private:
  TMutex FLock;
  std::condition_variable FSignal;
  TLogEntry* FHead GUARDED_BY(FLock) = nullptr;  // the newest entry
  size_t FQueuedBytes GUARDED_BY(FLock) = 0;
  uint64_t FDropped GUARDED_BY(FLock) = 0;
  bool FWake GUARDED_BY(FLock) = false;
  bool FOpen GUARDED_BY(FLock) = false;
};

}  // namespace duz
