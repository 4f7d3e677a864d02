#pragma once
// TThreadLogger: the log writer's thread. Every cycle (a 500 ms pause, then up to 2500 ms waiting
// for lines) it takes the whole queue as one batch, appends it to the log files in the current
// directory and hands the new lines to the view. A failed attempt is cut back and keeps its file:
// the next one tries the same file again (a full disk makes no new files) with the lines not
// written; none is written twice, and none stays half written (where a file cannot be cut back,
// the next attempt completes the line that the failure cut short). A name taken by something
// else (a symbolic link, a directory) is given up for a new one. The logger creates, starts
// and stops it from one thread (stop: close the queue, then Terminate and wait, so that the last
// cycle takes the last lines); all the rest runs on the writer's own thread.
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <span>
#include <string>
#include <vector>

#include "base/Mutex.h"
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
  // Writes the batch day by day, each day to its own file, up to the first failed attempt; returns
  // how many lines, from the first, are done.
  size_t WriteBatch(TLines batch);
  // Counts a failed attempt (error not 0), or reports the recovery after failed ones; returns
  // whether the attempt succeeded.
  bool Attempted(int error);
  // Appends the rest of a torn line, then the lines, to FFileName; done counts the lines written
  // (none when the failed attempt was cut back). Returns 0 or the errno of the failure.
  int AppendLines(TLines lines, size_t& done);
  bool WriteLines(int fd, TLines lines, size_t& done);
  bool WritePiece(int fd, std::string& piece, std::vector<size_t>& ends, size_t& begun);
  void AppendLine(std::string& out, TDateTime time, std::string_view text);
  std::string NewFileName();
  // Keeps the lines from done on for the next attempt.
  void Keep(std::vector<TLogEntry::TPtr>& batch, size_t done);

  TLogQueue& FQueue;
  TShowLines FShow;
  const std::string FLineEnd = "\r";
  // Writer thread only.
  std::string FFileName;
  int32_t FFileDay = 0;                // whole days of the current file's lines; 0: no current file
  int64_t FFileNameMSecs = 0;          // the time of FFileName, in milliseconds
  int FFailCount = 0;                  // failed attempts not yet reported as recovered
  std::string FTornRest;               // the end of a line a failure cut short in FFileName
  std::vector<TLogEntry::TPtr> FKept;  // lines of failed attempts, oldest first
  uint64_t FDropped = 0;               // kept lines dropped at the bound, not yet noted in a file
  TDateTime FStampTime = -1;           // the time that FStamp shows
  std::string FStamp;

  TMutex FEndLock;
  std::condition_variable FEndSignal;
  bool FEnded GUARDED_BY(FEndLock) = false;
};

}  // namespace duz
