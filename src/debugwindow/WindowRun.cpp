#include "debugwindow/WindowRun.h"

#include <sys/signalfd.h>
#include <unistd.h>

#include <QApplication>
#include <QSocketNotifier>

#include "base/StopSignal.h"
#include "debugwindow/DebugDialog.h"
#include "log/Logger.h"

namespace duz {

int RunWindow(const sigset_t& stopSignals) {
  // Qt keeps referring to the arguments for the application's life.
  static int argc = 1;
  static char name[] = "duzezevovivo";
  static char* argv[] = {name, nullptr};
  QApplication app(argc, argv);

  TStopSignal stop;
  std::unique_ptr<TfDebugDialog> dialog;
  bool stopping = false;
  // The stop signals are blocked, so they wait in the descriptor until the loop reads them. They
  // also end the WAIT pauses of the platform's creation and the error box of a failed one, both of
  // which run while the dialog is being made.
  const int signalFd = signalfd(-1, &stopSignals, SFD_CLOEXEC | SFD_NONBLOCK);
  std::unique_ptr<QSocketNotifier> notifier;
  if (signalFd >= 0) {
    notifier = std::make_unique<QSocketNotifier>(signalFd, QSocketNotifier::Read);
    QObject::connect(notifier.get(), &QSocketNotifier::activated, [&] {
      signalfd_siginfo info;
      while (read(signalFd, &info, sizeof info) == sizeof info) {
      }
      stopping = true;
      stop.Raise();
      if (QWidget* box = QApplication::activeModalWidget()) box->close();
      if (dialog) dialog->close();
    });
  }

  dialog = std::make_unique<TfDebugDialog>(&stop);
  if (!stopping) {
    dialog->show();
    app.exec();
  }

  // The writer may be waiting for the window to show a batch: keep serving it until it has ended.
  StopLogger([] { QCoreApplication::processEvents(QEventLoop::AllEvents, 10); });
  dialog.reset();
  notifier.reset();
  if (signalFd >= 0) close(signalFd);
  return 0;
}

}  // namespace duz
