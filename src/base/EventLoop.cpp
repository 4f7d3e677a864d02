#include "base/EventLoop.h"

#include <array>
#include <asio/executor_work_guard.hpp>
#include <asio/io_context.hpp>
#include <asio/post.hpp>
#include <atomic>
#include <condition_variable>

#include "base/MutexLock.h"

namespace duz {

namespace {
thread_local TEventLoop* CurrentLoop = nullptr;
}

struct TEventLoop::TImpl {
  asio::io_context Context;
  asio::executor_work_guard<asio::io_context::executor_type> Work{Context.get_executor()};
  std::atomic<std::thread::id> Owner{std::this_thread::get_id()};
  std::array<char, ReadBufferSize> ReadBuffer;
};

TEventLoop::TEventLoop() : FImpl(std::make_unique<TImpl>()) { CurrentLoop = this; }

TEventLoop::~TEventLoop() {
  if (CurrentLoop == this) CurrentLoop = nullptr;
}

TEventLoop* TEventLoop::Current() { return CurrentLoop; }

asio::io_context& TEventLoop::Context() { return FImpl->Context; }

std::span<char> TEventLoop::ReadBuffer() { return FImpl->ReadBuffer; }

void TEventLoop::Post(std::function<void()> handler) { asio::post(FImpl->Context, std::move(handler)); }

bool TEventLoop::Invoke(std::function<void()> handler, std::chrono::milliseconds timeout) {
  if (IsLoopThread()) {
    handler();
    return true;
  }
  // Shared with the posted job, which may outlive this call when the wait times out.
  struct TDone {
    TMutex Lock;
    std::condition_variable Signal;
    bool Finished GUARDED_BY(Lock) = false;
  };
  auto done = std::make_shared<TDone>();
  Post([done, handler = std::move(handler)] {
    try {
      handler();
    } catch (...) {
    }
    TMutexLock lock(done->Lock);
    done->Finished = true;
    done->Signal.notify_all();
  });
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  TMutexLock lock(done->Lock);
  while (!done->Finished && done->Lock.WaitUntil(done->Signal, deadline) == std::cv_status::no_timeout) {
  }
  return done->Finished;
}

void TEventLoop::Run() {
  FImpl->Owner = std::this_thread::get_id();
  FImpl->Context.run();
}

bool TEventLoop::RunUntil(const std::function<bool()>& done, std::chrono::milliseconds timeout) {
  FImpl->Owner = std::this_thread::get_id();
  auto deadline = std::chrono::steady_clock::now() + timeout;
  while (!done()) {
    if (FImpl->Context.stopped()) return done();
    auto now = std::chrono::steady_clock::now();
    if (now >= deadline) return done();
    // Short slices so that done() is looked at often even when no handler arrives.
    FImpl->Context.run_for(
        std::min<std::chrono::steady_clock::duration>(deadline - now, std::chrono::milliseconds(10)));
  }
  return true;
}

void TEventLoop::Stop() { FImpl->Context.stop(); }

bool TEventLoop::IsLoopThread() const { return std::this_thread::get_id() == FImpl->Owner; }

}  // namespace duz
