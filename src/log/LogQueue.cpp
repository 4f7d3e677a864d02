#include "log/LogQueue.h"

#include <algorithm>
#include <cstring>
#include <new>
#include <utility>

#include "base/MutexLock.h"

namespace duz {

TLogEntry::TPtr TLogEntry::Create(TDateTime time, std::string_view text) {
  void* memory = ::operator new(sizeof(TLogEntry) + text.size());
  TPtr entry(new (memory) TLogEntry(time, text.size()));
  std::memcpy(entry.get() + 1, text.data(), text.size());
  return entry;
}

void TLogEntry::TDeleter::operator()(TLogEntry* entry) const {
  entry->~TLogEntry();
  ::operator delete(entry);
}

TLogQueue::~TLogQueue() { TakeAll(); }

void TLogQueue::Push(TLogEntry::TPtr entry) {
  bool wasEmpty;
  {
    TMutexLock lock(FLock);
    if (!FOpen) return;
    const size_t size = sizeof(TLogEntry) + entry->FSize;
    if (FQueuedBytes + size > MaxQueuedBytes) {
      ++FDropped;
      return;
    }
    FQueuedBytes += size;
    // Linked at the head, newest first: the lock is held without touching another thread's entry.
    entry->FNext = FHead;
    FHead = entry.release();
    wasEmpty = !FHead->FNext;
    if (wasEmpty) FWake = true;
  }
  if (wasEmpty) FSignal.notify_all();
}

void TLogQueue::Open() {
  TakeAll();  // while closed, nothing can be pushed in between
  TMutexLock lock(FLock);
  FWake = false;
  FOpen = true;
}

void TLogQueue::Close() {
  {
    TMutexLock lock(FLock);
    FOpen = false;
  }
  FSignal.notify_all();
}

void TLogQueue::Sleep(std::chrono::milliseconds time) {
  const auto deadline = std::chrono::steady_clock::now() + time;
  TMutexLock lock(FLock);
  while (FOpen && FLock.WaitUntil(FSignal, deadline) == std::cv_status::no_timeout) {
  }
}

bool TLogQueue::WaitForLines(std::chrono::milliseconds timeout) {
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  TMutexLock lock(FLock);
  while (!FWake && FOpen && FLock.WaitUntil(FSignal, deadline) == std::cv_status::no_timeout) {
  }
  const bool woken = FWake || !FOpen;
  FWake = false;
  return woken;
}

std::vector<TLogEntry::TPtr> TLogQueue::TakeAll() {
  TLogEntry* newest;
  {
    TMutexLock lock(FLock);
    newest = std::exchange(FHead, nullptr);
    FQueuedBytes = 0;
  }
  std::vector<TLogEntry::TPtr> batch;
  for (TLogEntry* entry = newest; entry; entry = entry->FNext) batch.emplace_back(entry);
  std::reverse(batch.begin(), batch.end());
  return batch;
}

uint64_t TLogQueue::TakeDropped() {
  TMutexLock lock(FLock);
  return std::exchange(FDropped, 0);
}

}  // namespace duz
