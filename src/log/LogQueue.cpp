#include "log/LogQueue.h"

#include <algorithm>
#include <cstring>
#include <new>
#include <utility>

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
    std::lock_guard lock(FLock);
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
  std::lock_guard lock(FLock);
  FWake = false;
  FOpen = true;
}

void TLogQueue::Close() {
  {
    std::lock_guard lock(FLock);
    FOpen = false;
  }
  FSignal.notify_all();
}

void TLogQueue::Sleep(std::chrono::milliseconds time) {
  std::unique_lock lock(FLock);
  FSignal.wait_for(lock, time, [this] { return !FOpen; });
}

bool TLogQueue::WaitForLines(std::chrono::milliseconds timeout) {
  std::unique_lock lock(FLock);
  bool woken = FSignal.wait_for(lock, timeout, [this] { return FWake || !FOpen; });
  FWake = false;
  return woken;
}

std::vector<TLogEntry::TPtr> TLogQueue::TakeAll() {
  TLogEntry* newest;
  {
    std::lock_guard lock(FLock);
    newest = std::exchange(FHead, nullptr);
    FQueuedBytes = 0;
  }
  std::vector<TLogEntry::TPtr> batch;
  for (TLogEntry* entry = newest; entry; entry = entry->FNext) batch.emplace_back(entry);
  std::reverse(batch.begin(), batch.end());
  return batch;
}

uint64_t TLogQueue::TakeDropped() {
  std::lock_guard lock(FLock);
  return std::exchange(FDropped, 0);
}

}  // namespace duz
