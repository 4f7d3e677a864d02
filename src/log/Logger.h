#pragma once
// The log writer. WriteLog queues one finished line (no time stamp, no line end) from any thread;
// it never blocks on file work and never fails. A background thread (TThreadLogger) appends the
// queued lines in batches to "yyyy-mm-dd hh_nn_ss_zzz.txt" files in the current directory: a new
// file per run and per day, each line "HH:NN:SS.zzz; " + text + CR. A view (debug window, terminal)
// gets every written line through the view hook.
#include <functional>
#include <string>

#include "base/DateTime.h"
#include "base/DebugMode.h"

namespace duz {

void WriteLog(const std::string& text);
// A detail line: written in debug mode only, and only then are its parts joined into one line.
template <typename... TParts>
void DebugLog(const TParts&... parts) {
  if (DebugMode) WriteLog((std::string() += ... += parts));
}
// Where a sender's log block goes: WriteLog, or stdout for a command that tests a channel.
using TLogLineWriter = std::function<void(const std::string& line)>;

// Starts the writer (once, before anything logs). Lines before it are dropped.
void StartLogger();
// Stops the writer: lines queued so far are written, later ones dropped. While waiting for the
// writer the caller runs pump() repeatedly (window mode: serve the view calls the writer waits for).
void StopLogger(const std::function<void()>& pump = {});

// Called once per written line, in file order, after the line has been written (or failed to be).
using TLogViewHook = std::function<void(const std::string& text, TDateTime time)>;
// Runs a job on the view's thread and returns when it has run. Empty: the job runs on the writer.
using TLogViewInvoker = std::function<void(const std::function<void()>& job)>;
void SetLogViewHook(TLogViewHook hook, TLogViewInvoker invoker = {});

}  // namespace duz
