#include "debugwindow/DebugDialog.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QMessageBox>
#include <QRegularExpression>
#include <QScrollBar>
#include <QTextBlock>
#include <QTextCursor>
#include <QTextEdit>
#include <QTimer>
#include <chrono>
#include <filesystem>
#include <thread>

#include "base/DebugMode.h"
#include "core/KelvoPlatform.h"
#include "log/Logger.h"
#include "support/CountedView.h"
#include "support/Env.h"
#include "support/RegistryFile.h"
#include "support/TempDir.h"

namespace duz {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

// Waits while serving the GUI thread's events, as the window's own loop would.
bool PumpUntil(const std::function<bool()>& done) {
  return test::WaitUntil(
      [&] {
        QCoreApplication::processEvents();
        return done();
      },
      5s);
}

struct TFragment {
  QString Text;
  QString Family;
  qreal PointSize;
  QColor Color;
};

std::vector<TFragment> Fragments(const QTextBlock& block) {
  std::vector<TFragment> fragments;
  for (auto it = block.begin(); !it.atEnd(); ++it) {
    const QTextCharFormat format = it.fragment().charFormat();
    const QStringList families = format.fontFamilies().toStringList();
    fragments.push_back(
        {it.fragment().text(), families.value(0), format.fontPointSize(), format.foreground().color()});
  }
  return fragments;
}

QStringList Lines(const QTextEdit& view) {
  QStringList lines;
  for (QTextBlock block = view.document()->begin(); block.isValid(); block = block.next())
    lines << block.text();
  return lines;
}

// Each test in its own directory (the log files land there) with its own registry, configuration
// and event-log file, and the log writer running as in the program.
class DebugDialogTest : public ::testing::Test {
 protected:
  void SetUp() override {
    FOldDir = fs::current_path();
    fs::current_path(FDir.Path());
    FDir.Write("config.xml", "<config/>");
    test::WriteRegistryFile(FDir.File("registry.reg"), FDir.File("config.xml"), {});
    DebugMode = true;
    StartLogger();
  }
  void TearDown() override {
    StopLogger([] { QCoreApplication::processEvents(); });
    SetLogViewHook({});
    DebugMode = false;
    fs::current_path(FOldDir);
  }

  // Everything the writer has put into the log files so far.
  std::string LogFiles() const {
    std::string all;
    for (const auto& entry : fs::directory_iterator(FDir.Path()))
      if (entry.path().extension() == ".txt") all += test::ReadFile(entry.path());
    return all;
  }

  test::TTempDir FDir;
  test::TScopedEnv FRegistry{"DUZEZEVOVIVO_REGISTRY", FDir.File("registry.reg")};
  test::TScopedEnv FEventLog{"DUZEZEVOVIVO_EVENTLOG", FDir.File("events.log")};
  fs::path FOldDir;
};

// The platform's views live exactly as long as the platform.
TEST_F(DebugDialogTest, PlatformLivesExactlyAsLongAsTheWindow) {
  FDir.Write("config.xml", R"(<config><WAIT wait="0.1"/></config>)");
  std::atomic<int> views{0};
  {
    TfDebugDialog dialog(test::CountedViews(views));
    EXPECT_EQ(views, 1);
  }
  EXPECT_EQ(views, 0);
}

TEST_F(DebugDialogTest, WindowKeepsItsSizeCaptionColourAndMarginsAcrossResizes) {
  TfDebugDialog dialog;
  dialog.show();
  EXPECT_EQ(dialog.windowTitle(), "DuzezEvovivo - debug mode");
  EXPECT_EQ(dialog.palette().color(QPalette::Window), dialog.palette().color(QPalette::Button));
  EXPECT_TRUE(dialog.autoFillBackground());

  const struct {
    const char* Label;
    QSize Client;
  } rows[] = {{"designed size", {667, 415}},
              {"larger", {900, 700}},
              {"smaller", {320, 200}},
              {"back to the design", {667, 415}}};
  for (const auto& row : rows) {
    SCOPED_TRACE(row.Label);
    if (dialog.size() != row.Client) dialog.resize(row.Client);
    ASSERT_TRUE(PumpUntil([&] { return dialog.LogView()->size() == row.Client - QSize(16, 16); }))
        << dialog.LogView()->size().width() << "x" << dialog.LogView()->size().height();
    EXPECT_EQ(dialog.size(), row.Client);
    EXPECT_EQ(dialog.LogView()->geometry(), QRect(QPoint(8, 8), row.Client - QSize(16, 16)));
  }
}

TEST_F(DebugDialogTest, LineGetsItsPrefixAndFonts) {
  const TDateTime at = EncodeDate(2026, 12, 7) + EncodeTime(22, 5, 52, 0);
  const struct {
    const char* Label;
    TDateTime Time;
    QColor Color;
    QString Text;
    std::vector<TFragment> Expected;
  } rows[] = {
      {"timed line",
       at,
       Qt::black,
       "[Room] 23.5",
       {{"[2026-12-07 22:05:52] ", "Lucida Console", 6, Qt::black},
        {"[Room] 23.5", "Calibri", 10, Qt::black}}},
      {"coloured text, black prefix",
       at,
       Qt::red,
       "alarm",
       {{"[2026-12-07 22:05:52] ", "Lucida Console", 6, Qt::black}, {"alarm", "Calibri", 10, Qt::red}}},
      {"time 0 has no prefix", 0, Qt::blue, "plain", {{"plain", "Calibri", 10, Qt::blue}}},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.Label);
    TfDebugDialog dialog;
    dialog.AddRichLine(row.Text.toStdString(), row.Color, row.Time);
    const std::vector<TFragment> fragments = Fragments(dialog.LogView()->document()->firstBlock());
    ASSERT_EQ(fragments.size(), row.Expected.size());
    for (size_t i = 0; i < fragments.size(); ++i) {
      EXPECT_EQ(fragments[i].Text, row.Expected[i].Text);
      EXPECT_EQ(fragments[i].Family, row.Expected[i].Family);
      EXPECT_EQ(fragments[i].PointSize, row.Expected[i].PointSize);
      EXPECT_EQ(fragments[i].Color, row.Expected[i].Color);
    }
    // The line ends with a line break: the next line starts on a block of its own.
    QString line;
    for (const TFragment& fragment : row.Expected) line += fragment.Text;
    EXPECT_EQ(Lines(*dialog.LogView()), QStringList({line, ""}));
  }
}

TEST_F(DebugDialogTest, UserSelectionSurvivesAppendsWhileTheViewFollowsNewLines) {
  TfDebugDialog dialog;
  dialog.show();
  for (int i = 0; i < 100; ++i) dialog.AddRichLine("line " + std::to_string(i), Qt::black, 0);
  QTextCursor selection(dialog.LogView()->document());
  selection.setPosition(2);
  selection.setPosition(9, QTextCursor::KeepAnchor);
  dialog.LogView()->setTextCursor(selection);

  for (int i = 100; i < 200; ++i) dialog.AddRichLine("line " + std::to_string(i), Qt::black, 0);

  EXPECT_EQ(dialog.LogView()->textCursor().anchor(), 2);
  EXPECT_EQ(dialog.LogView()->textCursor().position(), 9);
  EXPECT_EQ(dialog.LogView()->textCursor().selectedText(), "ne 0\u2029li");
  const QTextBlock newest = dialog.LogView()->document()->lastBlock().previous();
  ASSERT_EQ(newest.text(), "line 199");
  const QRect newestRect = dialog.LogView()->cursorRect(QTextCursor(newest));
  EXPECT_TRUE(dialog.LogView()->viewport()->rect().contains(newestRect))
      << "line at y " << newestRect.y() << ", scrolled to " << dialog.LogView()->verticalScrollBar()->value();
}

TEST_F(DebugDialogTest, LinesFromAnotherThreadArriveInOrder) {
  TfDebugDialog dialog;
  // The window's platform logs its start through the same view; those lines come first, so that
  // they cannot land among the ones counted below.
  ASSERT_TRUE(
      PumpUntil([&] { return Lines(*dialog.LogView()).join('\n').contains("KelvoPlatform created"); }));
  const int before = dialog.LogView()->document()->blockCount();
  constexpr int Count = 300;
  std::thread writer([&] {
    for (int i = 0; i < Count; ++i) dialog.AddRichLine(std::to_string(i), Qt::black, 0);
  });
  writer.join();  // returns although the GUI thread has not served a single call yet
  EXPECT_EQ(dialog.LogView()->document()->blockCount(), before);

  ASSERT_TRUE(PumpUntil([&] { return dialog.LogView()->document()->blockCount() == before + Count; }));
  const QStringList lines = Lines(*dialog.LogView()).mid(before - 1);
  for (int i = 0; i < Count; ++i) ASSERT_EQ(lines[i], QString::number(i)) << "line " << i;
}

TEST_F(DebugDialogTest, OnlyLinesWrittenAfterTheWindowAttachedAreShownOnce) {
  // The writer shows a batch after writing it; once a later batch is in the file, it is done with
  // the first one.
  for (const char* line : {"before the window", "fence"}) {
    WriteLog(line);
    ASSERT_TRUE(test::WaitUntil([&] { return LogFiles().find(line) != std::string::npos; }, 5s));
  }

  TfDebugDialog dialog;
  WriteLog("after the window");
  ASSERT_TRUE(PumpUntil([&] { return dialog.LogView()->toPlainText().contains("after the window"); }));

  const QString text = dialog.LogView()->toPlainText();
  EXPECT_FALSE(text.contains("before the window"));
  EXPECT_EQ(text.count("after the window"), 1);
  EXPECT_TRUE(text.contains(QRegularExpression(R"(\[\d{4}-\d\d-\d\d \d\d:\d\d:\d\d\] after the window)")));
}

TEST_F(DebugDialogTest, StoppingTheWriterServesTheViewItWaitsFor) {
  TfDebugDialog dialog;
  for (int i = 0; i < 50; ++i) WriteLog("queued " + std::to_string(i));
  // The writer hands its batches to this thread and waits; without the pump this never ends.
  StopLogger([] { QCoreApplication::processEvents(); });
  const QString text = dialog.LogView()->toPlainText();
  for (int i = 0; i < 50; ++i) EXPECT_TRUE(text.contains(QString("queued %1\n").arg(i))) << i;
}

// A window that kept its hook would be called after its end (caught by the sanitizers).
TEST_F(DebugDialogTest, DestroyedWindowLetsGoOfTheWriter) {
  { TfDebugDialog dialog; }
  WriteLog("after the window went");
  EXPECT_TRUE(PumpUntil([&] { return LogFiles().find("after the window went") != std::string::npos; }));
  StopLogger([] { QCoreApplication::processEvents(); });
}

TEST_F(DebugDialogTest, PlatformErrorIsShownAndLeavesTheWindowEmpty) {
  FDir.Write("config.xml", "<config><Kelvo comport=\"1\"></config>");
  QString boxText;
  QMessageBox::Icon boxIcon = QMessageBox::NoIcon;
  QTimer closer;
  QObject::connect(&closer, &QTimer::timeout, [&] {
    if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) {
      boxText = box->text();
      boxIcon = box->icon();
      box->accept();
    }
  });
  closer.start(10);

  TfDebugDialog dialog;
  closer.stop();
  EXPECT_EQ(boxIcon, QMessageBox::Critical);
  EXPECT_TRUE(boxText.contains(QString::fromStdString(FDir.File("config.xml")))) << boxText.toStdString();

  WriteLog("not for this window");
  ASSERT_TRUE(
      test::WaitUntil([&] { return LogFiles().find("not for this window") != std::string::npos; }, 5s));
  QCoreApplication::processEvents();
  EXPECT_TRUE(dialog.LogView()->document()->isEmpty());
}

}  // namespace
}  // namespace duz

int main(int argc, char** argv) {
  qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication app(argc, argv);
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
