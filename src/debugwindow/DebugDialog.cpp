#include "debugwindow/DebugDialog.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QMessageBox>
#include <QScreen>
#include <QScrollBar>
#include <QTextCursor>
#include <QTextEdit>
#include <QThread>
#include <QVBoxLayout>

#include "core/PlatformHost.h"
#include "debugwindow/GuiJobQueue.h"
#include "debugwindow/TerminalView.h"
#include "log/Logger.h"

namespace duz {
namespace {

constexpr int ClientWidth = 667;
constexpr int ClientHeight = 415;
constexpr int Margin = 8;

QTextCharFormat LineFormat(const char* family, qreal pointSize, const QColor& color) {
  QTextCharFormat format;
  format.setFontFamilies({QString::fromLatin1(family)});
  format.setFontPointSize(pointSize);
  format.setFontWeight(QFont::Normal);
  format.setFontItalic(false);
  format.setFontUnderline(false);
  format.setFontStrikeOut(false);
  format.setForeground(color);
  return format;
}

}  // namespace

TfDebugDialog::TfDebugDialog(const TPlatformViewFactories& views, const TStopSignal* stop, bool keepState)
    : redt1(new QTextEdit(this)), FJobs(TGuiJobQueue::Create()) {
  setWindowTitle(QStringLiteral("DuzezEvovivo - debug mode"));
  setFont(QFont(QStringLiteral("MS Sans Serif"), 8));
  QPalette windowPalette = palette();
  windowPalette.setColor(QPalette::Window, windowPalette.color(QPalette::Button));
  setPalette(windowPalette);
  setAutoFillBackground(true);

  // Like the classic control: no scroll bars, and the selection is not shown without the focus.
  redt1->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
  redt1->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
  QPalette viewPalette = redt1->palette();
  viewPalette.setColor(QPalette::Inactive, QPalette::Highlight, Qt::transparent);
  viewPalette.setColor(QPalette::Inactive, QPalette::HighlightedText,
                       viewPalette.color(QPalette::Inactive, QPalette::Text));
  redt1->setPalette(viewPalette);
  // Every line stays for the window's life; an undo history would hold all of them a second time.
  redt1->document()->setUndoRedoEnabled(false);

  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(Margin, Margin, Margin, Margin);
  layout->addWidget(redt1);

  resize(ClientWidth, ClientHeight);
  move(screen()->availableGeometry().center() - rect().center());

  FormCreate(views, stop, keepState);
}

TfDebugDialog::~TfDebugDialog() {
  if (FAttached) SetLogViewHook({});
  FJobs->Close();  // no posted line or creation result reaches the window after its end
}

void TfDebugDialog::FormCreate(const TPlatformViewFactories& views, const TStopSignal* stop, bool keepState) {
  FPlatform = std::make_unique<TPlatformHost>(views, stop, keepState ? StateFileName : "");
  QEventLoop creating;
  std::string error;
  FPlatform->Start([&](const std::string& result) {
    FJobs->Post([&, result] {
      error = result;
      creating.quit();
    });
  });
  creating.exec();
  if (!error.empty()) {
    QMessageBox::critical(nullptr, QCoreApplication::applicationName(), QString::fromStdString(error));
    return;
  }
  SetLogViewHook([this](const std::string& text, TDateTime time) { ShowLogLine(text, time); },
                 [jobs = FJobs](const std::function<void()>& job) { jobs->Run(job); });
  FAttached = true;
}

void TfDebugDialog::Reload() { FPlatform->Reload(); }

void TfDebugDialog::ShowLogLine(const std::string& text, TDateTime time) {
  AddRichLine(text, Qt::black, time);
}

void TfDebugDialog::AddRichLine(const std::string& text, const QColor& color, TDateTime time) {
  if (QThread::currentThread() == thread())
    AppendLine(text, color, time);
  else
    FJobs->Post([this, text, color, time] { AppendLine(text, color, time); });
}

void TfDebugDialog::AppendLine(const std::string& text, const QColor& color, TDateTime time) {
  const QTextCursor user = redt1->textCursor();
  const int anchor = user.anchor(), position = user.position();

  QTextCursor line(redt1->document());
  line.movePosition(QTextCursor::End);
  line.beginEditBlock();
  line.insertText(QString::fromStdString(ViewPrefix(time)), LineFormat("Lucida Console", 6, Qt::black));
  line.insertText(QString::fromStdString(text), LineFormat("Calibri", 10, color));
  line.insertBlock();
  line.endEditBlock();

  // Scroll to the new line, then put the user's selection back without scrolling away from it.
  line.movePosition(QTextCursor::PreviousBlock);
  redt1->setTextCursor(line);
  redt1->ensureCursorVisible();
  QScrollBar* vertical = redt1->verticalScrollBar();
  QScrollBar* horizontal = redt1->horizontalScrollBar();
  const int top = vertical->value(), left = horizontal->value();
  QTextCursor restored(redt1->document());
  restored.setPosition(anchor);
  restored.setPosition(position, QTextCursor::KeepAnchor);
  redt1->setTextCursor(restored);
  vertical->setValue(top);
  horizontal->setValue(left);
}

}  // namespace duz
