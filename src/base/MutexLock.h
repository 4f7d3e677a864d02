#pragma once
// TMutexLock: holds a TMutex from its construction to the end of its scope, as the thread-safety
// analysis sees it.
#include "base/Mutex.h"

namespace duz {

class SCOPED_CAPABILITY TMutexLock {
 public:
  explicit TMutexLock(TMutex& mutex) ACQUIRE(mutex) : FMutex(mutex) { FMutex.Lock(); }
  ~TMutexLock() RELEASE() { FMutex.Unlock(); }
  TMutexLock(const TMutexLock&) = delete;
  TMutexLock& operator=(const TMutexLock&) = delete;

 private:
  TMutex& FMutex;
};

}  // namespace duz
