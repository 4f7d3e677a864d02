#pragma once
// TfDebugDialog: the -debug window. Creating it creates the platform on its own owner thread (the
// window is usable only once that has ended; the GUI thread serves its events meanwhile, so that a
// stop signal can cut the creation's WAIT pauses short), then attaches the window to the log
// writer, so that every line written from then on appears in redt1 with its date and time.
// Created, shown and destroyed on the GUI thread; AddRichLine may be called from any thread.
// Whoever destroys the window while the log writer still runs is safe: the destructor lets go of
// the hook first.
#include <QColor>
#include <QWidget>
#include <memory>
#include <string>

#include "base/DateTime.h"
#include "status/PlatformView.h"

class QTextEdit;

namespace duz {

class TGuiJobQueue;
class TPlatformHost;
class TStopSignal;

class TfDebugDialog : public QWidget {
  Q_OBJECT

 public:
  // The platform runs the given views and, with keepState, keeps its state in the working directory
  // as the service does; stop, when given, outlives the window.
  explicit TfDebugDialog(const TPlatformViewFactories& views = {}, const TStopSignal* stop = nullptr,
                         bool keepState = false);
  ~TfDebugDialog() override;

  // Appends one line: the date-time prefix (none for time 0), the text in its colour, a line
  // break; keeps the user's selection and scrolls to the new line. From another thread the call
  // is queued to the GUI thread and returns at once; lines queued from one thread keep their order.
  void AddRichLine(const std::string& text, const QColor& color, TDateTime time);

  QTextEdit* LogView() const { return redt1; }
  // Has the platform read its configuration again (TKelvoPlatform::Reload).
  void Reload();

 private:
  void FormCreate(const TPlatformViewFactories& views, const TStopSignal* stop, bool keepState);
  void ShowLogLine(const std::string& text, TDateTime time);
  void AppendLine(const std::string& text, const QColor& color, TDateTime time);

  QTextEdit* redt1;
  // What other threads hand the window: lines, the creation's result, the log writer's batches.
  const std::shared_ptr<TGuiJobQueue> FJobs;
  std::unique_ptr<TPlatformHost> FPlatform;  // its loop runs even when the creation failed
  bool FAttached = false;                    // the log view hook is ours
};

}  // namespace duz
