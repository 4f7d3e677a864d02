#pragma once
// TMutex: a std::mutex that Clang's thread-safety analysis knows as a lock (base/ThreadAnnotations.h),
// so that the fields a header marks GUARDED_BY it are checked at every use. Held for a scope by
// TMutexLock; a condition variable waits on it through Wait and WaitUntil. Any thread.
#include <chrono>
#include <condition_variable>
#include <mutex>

#include "base/ThreadAnnotations.h"

namespace duz {

class CAPABILITY("mutex") TMutex {
 public:
  void Lock() ACQUIRE() { FMutex.lock(); }
  void Unlock() RELEASE() { FMutex.unlock(); }
  // Tells the analysis what the caller knows and it cannot see: that this lock is held (by an owner
  // that calls in under it). Checks nothing at run time.
  void AssertHeld() const ASSERT_CAPABILITY(this) {}

  // Releases the lock until wake is notified (or spuriously), then holds it again.
  void Wait(std::condition_variable& wake) REQUIRES(this) {
    std::unique_lock lock(FMutex, std::adopt_lock);
    wake.wait(lock);
    lock.release();
  }
  // As Wait, and returns std::cv_status::timeout once the deadline has passed.
  std::cv_status WaitUntil(std::condition_variable& wake, std::chrono::steady_clock::time_point deadline)
      REQUIRES(this) {
    std::unique_lock lock(FMutex, std::adopt_lock);
    const std::cv_status status = wake.wait_until(lock, deadline);
    lock.release();
    return status;
  }

 private:
  std::mutex FMutex;
};

}  // namespace duz
