#include "log/ThreadLogger.h"

#include <fcntl.h>
#include <fmt/format.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cmath>

#include "base/Clock.h"
#include "base/EventLogger.h"
#include "base/FileWrite.h"
#include "base/FormatDateTime.h"
#include "log/SystemLogUtils.h"
#include "log/ThreadUtils.h"

namespace duz {
namespace {

using namespace std::chrono_literals;

void ReportError(const std::string& text) { ReportSystemEvent(EVENTLOG_ERROR_TYPE, 0, 0, text); }

}  // namespace

TThreadLogger::TThreadLogger(TLogQueue& queue, TShowLines show) : FQueue(queue), FShow(std::move(show)) {}

bool TThreadLogger::WaitForEnd(std::chrono::milliseconds timeout) {
  std::unique_lock lock(FEndLock);
  return FEndSignal.wait_for(lock, timeout, [this] { return FEnded; });
}

void TThreadLogger::Execute() {
  SetThreadName("Logger");
  bool stopping;
  do {
    stopping = Terminated();  // set after the queue was closed: this cycle takes the last lines
    FQueue.Sleep(500ms);
    if (FQueue.WaitForLines(2500ms)) {
      try {
        RunBatch();
      } catch (const std::exception&) {
        // Out of memory while assembling a batch: those lines are lost, the writer goes on.
      }
    }
  } while (!stopping);
  {
    std::lock_guard lock(FEndLock);
    FEnded = true;
  }
  FEndSignal.notify_all();
}

void TThreadLogger::RunBatch() {
  std::vector<TLogEntry::TPtr> batch = std::move(FKept);
  FKept.clear();
  size_t firstNew = batch.size();
  for (TLogEntry::TPtr& entry : FQueue.TakeAll()) batch.push_back(std::move(entry));
  if (uint64_t dropped = FQueue.TakeDropped())
    batch.push_back(TLogEntry::Create(
        Now(),
        fmt::format("{} log lines were dropped: they came faster than the log files took them", dropped)));
  if (batch.empty()) return;
  std::vector<bool> failed = WriteBatch(batch);
  if (FShow && firstNew < batch.size()) FShow(TLines(batch).subspan(firstNew));
  Keep(batch, failed);
}

std::vector<bool> TThreadLogger::WriteBatch(TLines batch) {
  std::vector<bool> failed(batch.size(), false);
  for (size_t first = 0; first < batch.size();) {
    int32_t day = DateOf(batch[first]->Time());
    size_t end = first + 1;
    while (end < batch.size() && DateOf(batch[end]->Time()) == day) ++end;
    if (day != FFileDay) {
      FFileDay = day;
      FFileName = NewFileName();
    }
    if (AppendLines(batch.subspan(first, end - first))) {
      if (FFailCount > 0) {
        ReportError(
            fmt::format("Bylo zaznamenáno {} neůpěšných pokusů o zápis do logovacích souborů", FFailCount));
        FFailCount = 0;
      }
    } else {
      FFileDay = 0;
      if (++FFailCount == 1) ReportError("Chyba při zápisu do logovacího souboru \"" + FFileName + "\"");
      std::fill(failed.begin() + static_cast<ptrdiff_t>(first), failed.begin() + static_cast<ptrdiff_t>(end),
                true);
    }
    first = end;
  }
  return failed;
}

// One open, one flush and one close per day of a batch; the file is held open only while the
// batch is written.
bool TThreadLogger::AppendLines(TLines lines) {
  int fd = open(FFileName.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
  if (fd < 0) return false;
  const off_t start = AppendStart(fd);
  bool written = WriteLines(fd, lines) && fsync(fd) == 0;
  // The lines are kept and written again: none may stay here half written (a full disk).
  if (!written) UndoAppend(fd, start);
  written = close(fd) == 0 && written;
  if (written) FDropped = 0;
  return written;
}

// Written in pieces of about 64 KiB, so that a large batch needs no large buffer.
bool TThreadLogger::WriteLines(int fd, TLines lines) {
  constexpr size_t PieceSize = 64 * 1024;
  std::string piece;
  try {
    piece.reserve(PieceSize + 256);
    if (FDropped > 0)
      AppendLine(piece, lines.front()->Time(),
                 fmt::format("{} log lines were dropped while the log files could not be written", FDropped));
    for (const TLogEntry::TPtr& line : lines) {
      AppendLine(piece, line->Time(), line->Text());
      if (piece.size() >= PieceSize) {
        if (!WriteAll(fd, piece)) return false;
        piece.clear();
      }
    }
  } catch (const std::exception&) {
    return false;
  }
  return WriteAll(fd, piece);
}

void TThreadLogger::AppendLine(std::string& out, TDateTime time, std::string_view text) {
  if (time != FStampTime) {  // lines logged together share their stamp
    FStamp = FormatDateTime("HH:NN:SS.zzz", time);
    FStampTime = time;
  }
  out += FStamp;
  out += "; ";
  out += text;
  out += FLineEnd;
}

// The names of one run strictly increase, so that a new day or a retry after a failure never
// lands in the file just left, even within the same millisecond.
std::string TThreadLogger::NewFileName() {
  FFileNameMSecs = std::max<int64_t>(std::llround(Now() * MSecsPerDay), FFileNameMSecs + 1);
  return FormatDateTime("yyyy-mm-dd hh_nn_ss_zzz", static_cast<double>(FFileNameMSecs) / MSecsPerDay) +
         ".txt";
}

void TThreadLogger::Keep(std::vector<TLogEntry::TPtr>& batch, const std::vector<bool>& failed) {
  for (size_t i = 0; i < batch.size(); ++i)
    if (failed[i]) FKept.push_back(std::move(batch[i]));
  if (FKept.size() > MaxKeptLines) {
    size_t excess = FKept.size() - MaxKeptLines;
    FKept.erase(FKept.begin(), FKept.begin() + static_cast<ptrdiff_t>(excess));
    FDropped += excess;
  }
}

}  // namespace duz
