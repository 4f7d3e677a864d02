#include "debugwindow/WindowRun.h"

#include <sys/signalfd.h>
#include <unistd.h>

#include <QApplication>
#include <QSocketNotifier>
#include <algorithm>
#include <cstdlib>
#include <string>
#include <string_view>

#include "base/StopSignal.h"
#include "debugwindow/DebugDialog.h"
#include "log/Logger.h"

namespace duz {
namespace {

constexpr std::string_view NoDisplayPlatform = "offscreen";

bool Names(std::string_view list, std::string_view platform) {
  while (!list.empty()) {
    const std::string_view entry = list.substr(0, list.find(';'));
    if (entry.substr(0, entry.find(':')) == platform) return true;
    list.remove_prefix(std::min(list.size(), entry.size() + 1));
  }
  return false;
}

// The platforms Qt is to try, in order: those asked for, else those the environment offers. Qt ends
// the process when it can open none of them, so "offscreen" comes last and, unless it was asked
// for, stands for "no display".
std::string PlatformList(const std::string& asked) {
  std::string list = asked;
  if (list.empty()) {
    if (const char* wayland = std::getenv("WAYLAND_DISPLAY"); wayland && *wayland) list = "wayland;";
    if (const char* x11 = std::getenv("DISPLAY"); x11 && *x11) list += "xcb;";
  }
  if (!Names(list, NoDisplayPlatform)) {
    if (!list.empty() && list.back() != ';') list += ';';
    list += NoDisplayPlatform;
  }
  return list;
}

}  // namespace

int RunWindow(const sigset_t& handledSignals, const TPlatformViewFactories& views) {
  // Qt keeps referring to the arguments for the application's life.
  const char* asked = std::getenv("QT_QPA_PLATFORM");
  const std::string askedList = asked ? asked : "";
  std::string name = "duzezevovivo", option = "-platform", platforms = PlatformList(askedList);
  int argc = 3;
  char* argv[] = {name.data(), option.data(), platforms.data(), nullptr};
  QApplication app(argc, argv);
  if (!Names(askedList, NoDisplayPlatform) &&
      QGuiApplication::platformName() == QLatin1String(NoDisplayPlatform))
    return WindowNoDisplay;

  TStopSignal stop;
  std::unique_ptr<TfDebugDialog> dialog;
  bool stopping = false;
  // The signals are blocked, so they wait in the descriptor until the loop reads them. A stop signal
  // also ends the WAIT pauses of the platform's creation and the error box of a failed one, both of
  // which run while the dialog is being made; SIGHUP asks for a reload.
  const int signalFd = signalfd(-1, &handledSignals, SFD_CLOEXEC | SFD_NONBLOCK);
  std::unique_ptr<QSocketNotifier> notifier;
  if (signalFd >= 0) {
    notifier = std::make_unique<QSocketNotifier>(signalFd, QSocketNotifier::Read);
    QObject::connect(notifier.get(), &QSocketNotifier::activated, [&] {
      signalfd_siginfo info;
      bool stopAsked = false;
      while (read(signalFd, &info, sizeof info) == sizeof info) {
        if (info.ssi_signo != SIGHUP)
          stopAsked = true;
        else if (dialog)
          dialog->Reload();
      }
      if (!stopAsked) return;
      stopping = true;
      stop.Raise();
      if (QWidget* box = QApplication::activeModalWidget()) box->close();
      if (dialog) dialog->close();
    });
  }

  dialog = std::make_unique<TfDebugDialog>(views, &stop, true);
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

extern "C" int DuzRunWindow(const sigset_t* handledSignals, const duz::TPlatformViewFactories* views) {
  return duz::RunWindow(*handledSignals, *views);
}
