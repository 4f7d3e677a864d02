#pragma once
// TThreadLogger: the log writer's thread. Every cycle (a 500 ms pause, then up to 2500 ms waiting
// for lines) it takes the whole queue as one batch, appends it to the log files in the current
// directory and hands the new lines to the view. Lines of a failed attempt are kept and written
// with the next successful one. The logger creates, starts and stops it from one thread (stop:
// close the queue, then Terminate and wait, so that the last cycle takes the last lines); all the
// rest runs on the writer's own thread.
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <span>
#include <string>
#include <vector>

#include "base/Thread.h"
#include "log/LogQueue.h"

namespace duz {

class TThreadLogger : public TThread {
 public:
  using TLines = std::span<const TLogEntry::TPtr>;
  // Called on the writer thread with the lines of each batch that were new to it, once they have
  // been written (or failed to be).
  using TShowLines = std::function<void(TLines lines)>;

  // Lines kept from failed attempts beyond this many are dropped, the oldest first, and counted.
  static constexpr size_t MaxKeptLines = 100000;

  TThreadLogger(TLogQueue& queue, TShowLines show);
  // Waits at most timeout for the body to end; true when it has.
  bool WaitForEnd(std::chrono::milliseconds timeout);

 protected:
  void Execute() override;

 private:
  void RunBatch();
  // Writes the batch day by day; returns, per line, whether its attempt failed.
  std::vector<bool> WriteBatch(TLines batch);
  bool AppendLines(TLines lines);
  bool WriteLines(int fd, TLines lines);
  void AppendLine(std::string& out, TDateTime time, std::string_view text);
  std::string NewFileName();
  void Keep(std::vector<TLogEntry::TPtr>& batch, const std::vector<bool>& failed);

  TLogQueue& FQueue;
  TShowLines FShow;
  const std::string FLineEnd = "\r";
  // Writer thread only.
  std::string FFileName;
  int32_t FFileDay = 0;                // whole days of the current file's lines; 0: no current file
  int64_t FFileNameMSecs = 0;          // the time of FFileName, in milliseconds
  int FFailCount = 0;                  // failed attempts not yet reported as recovered
  std::vector<TLogEntry::TPtr> FKept;  // lines of failed attempts, oldest first
  uint64_t FDropped = 0;               // kept lines dropped at the bound, not yet noted in a file
  TDateTime FStampTime = -1;           // the time that FStamp shows
  std::string FStamp;

  std::mutex FEndLock;
  std::condition_variable FEndSignal;
  bool FEnded = false;  // guarded by FEndLock
};

}  // namespace duz
