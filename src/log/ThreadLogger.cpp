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
#include "base/MutexLock.h"
#include "log/SystemLogUtils.h"
#include "log/ThreadUtils.h"

namespace duz {
namespace {

using namespace std::chrono_literals;

void ReportError(const std::string& text) { ReportSystemEvent(text, EVENTLOG_ERROR_TYPE, 0, 0); }

}  // namespace

TThreadLogger::TThreadLogger(TLogQueue& queue, TShowLines show) : FQueue(queue), FShow(std::move(show)) {}

bool TThreadLogger::WaitForEnd(std::chrono::milliseconds timeout) {
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  TMutexLock lock(FEndLock);
  while (!FEnded && FEndLock.WaitUntil(FEndSignal, deadline) == std::cv_status::no_timeout) {
  }
  return FEnded;
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
    TMutexLock lock(FEndLock);
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
  const size_t done = WriteBatch(batch);
  if (FShow && firstNew < batch.size()) FShow(TLines(batch).subspan(firstNew));
  Keep(batch, done);
}

size_t TThreadLogger::WriteBatch(TLines batch) {
  size_t done = 0;
  while (done < batch.size()) {
    int32_t day = DateOf(batch[done]->Time());
    size_t end = done + 1;
    while (end < batch.size() && DateOf(batch[end]->Time()) == day) ++end;
    if (day != FFileDay) {
      // The rest of a torn line belongs to the file the line began in.
      size_t none = 0;
      if (!FTornRest.empty() && !Attempted(AppendLines({}, none))) return done;
      FFileDay = day;
      FFileName = NewFileName();
    }
    size_t written = 0;
    const int error = AppendLines(batch.subspan(done, end - done), written);
    done += written;
    if (!Attempted(error)) return done;
  }
  return done;
}

bool TThreadLogger::Attempted(int error) {
  const bool ok = error == 0;
  // What is not a file of ours (a link, a directory) does not become one by waiting, unlike a
  // full disk: the next attempt takes a new name.
  if (error == ELOOP || error == EISDIR || error == ENotRegularFile) {
    FFileDay = 0;
    FTornRest.clear();
  }
  if (ok && FFailCount > 0) {
    ReportError(
        fmt::format("Bylo zaznamenáno {} neůpěšných pokusů o zápis do logovacích souborů", FFailCount));
    FFailCount = 0;
  } else if (!ok && ++FFailCount == 1) {
    ReportError("Chyba při zápisu do logovacího souboru \"" + FFileName + "\"");
  }
  return ok;
}

// One open, one flush and one close per day of a batch; the file is held open only while the
// batch is written. A failed attempt is cut back, so that a full disk leaves no half line in the
// file: all of it is tried again. Only where the file cannot be cut back does a torn line stay,
// for the next attempt to complete.
int TThreadLogger::AppendLines(TLines lines, size_t& done) {
  done = 0;
  int fd = OpenRegularFile(FFileName, O_WRONLY | O_CREAT | O_APPEND);
  if (fd < 0) return errno;
  const off_t start = AppendStart(fd);
  const std::string tornRest = FTornRest;
  const uint64_t dropped = FDropped;
  int error = !WriteLines(fd, lines, done) ? errno : fsync(fd) != 0 ? errno : 0;
  if (error != 0 && UndoAppend(fd, start)) {
    done = 0;
    FTornRest = tornRest;
    FDropped = dropped;
  }
  if (close(fd) != 0 && error == 0) error = errno;
  return error;
}

// Written in pieces of about 64 KiB, so that a large batch needs no large buffer. False with errno
// set on failure.
bool TThreadLogger::WriteLines(int fd, TLines lines, size_t& done) {
  constexpr size_t PieceSize = size_t{64} * 1024;
  if (!FTornRest.empty()) {
    size_t written = 0;
    const bool ok = WriteAll(fd, FTornRest, &written);
    FTornRest.erase(0, written);
    if (!ok) return false;
  }
  std::string piece;
  std::vector<size_t> ends;  // where each line of the piece ends
  try {
    if (FDropped > 0) {
      AppendLine(piece, lines.empty() ? Now() : lines.front()->Time(),
                 fmt::format("{} log lines were dropped while the log files could not be written", FDropped));
      ends.push_back(piece.size());
      size_t begun = 0;
      const bool ok = WritePiece(fd, piece, ends, begun);
      if (begun > 0) FDropped = 0;
      if (!ok) return false;
    }
    piece.reserve(PieceSize + 256);
    for (const TLogEntry::TPtr& line : lines) {
      AppendLine(piece, line->Time(), line->Text());
      ends.push_back(piece.size());
      if (piece.size() >= PieceSize && !WritePiece(fd, piece, ends, done)) return false;
    }
  } catch (const std::exception&) {
    errno = ENOMEM;
    return false;
  }
  return WritePiece(fd, piece, ends, done);
}

// A line whose beginning reached the file counts as written: the rest waits in FTornRest, so that
// the next attempt completes it instead of writing it twice.
bool TThreadLogger::WritePiece(int fd, std::string& piece, std::vector<size_t>& ends, size_t& begun) {
  size_t written = 0;
  const bool ok = WriteAll(fd, piece, &written);
  for (size_t i = 0, start = 0; i < ends.size() && start < written; start = ends[i++]) {
    if (ends[i] > written) FTornRest = piece.substr(written, ends[i] - written);
    ++begun;
  }
  piece.clear();
  ends.clear();
  return ok;
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

// The names of one run strictly increase, so that a new day never lands in the file just left,
// even within the same millisecond.
std::string TThreadLogger::NewFileName() {
  FFileNameMSecs = std::max<int64_t>(std::llround(Now() * MSecsPerDay), FFileNameMSecs + 1);
  return FormatDateTime("yyyy-mm-dd hh_nn_ss_zzz", static_cast<double>(FFileNameMSecs) / MSecsPerDay) +
         ".txt";
}

void TThreadLogger::Keep(std::vector<TLogEntry::TPtr>& batch, size_t done) {
  for (size_t i = done; i < batch.size(); ++i) FKept.push_back(std::move(batch[i]));
  if (FKept.size() > MaxKeptLines) {
    size_t excess = FKept.size() - MaxKeptLines;
    FKept.erase(FKept.begin(), FKept.begin() + static_cast<ptrdiff_t>(excess));
    FDropped += excess;
  }
}

}  // namespace duz
