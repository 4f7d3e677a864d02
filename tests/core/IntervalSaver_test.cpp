#include "core/IntervalSaver.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
#include <filesystem>

#include "core/IntervalFixture.h"
#include "support/EventLogFile.h"

namespace duz {
namespace {

namespace fs = std::filesystem;

class IntervalSaverTest : public test::TIntervalFixture {
 protected:
  // A thermometer on COM1 with one SAVE element (attributes and content as given) that saves
  // into the test's directory.
  TKelvo& MakeSaver(const std::string& attributes, const std::string& content = "",
                    const std::string& kelvoAttributes = "") {
    if (FKelvo) Remove(FKelvo);
    ClockAt(0);
    FKelvo = Make("<Kelvo comport=\"1\" " + kelvoAttributes + "><SAVE directory=\"" + Directory() + "\" " +
                  attributes + ">" + content + "</SAVE></Kelvo>");
    return *FKelvo;
  }
  std::string Directory() const { return FDir.Path().string() + "/"; }
  // A tick at the given number of seconds after the saver was made (its first run is due at 15).
  void TickAt(double seconds) {
    ClockAt(seconds);
    FKelvo->Tick();
  }
  void Disconnect() {
    FPty.Write("*B1E1ERR\r");
    ASSERT_TRUE(FLoop.RunUntil([&] { return !FKelvo->IsConnected(); }, std::chrono::seconds(3)));
  }
  std::vector<std::string> Files() const {
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(FDir.Path())) names.push_back(entry.path().filename());
    std::erase_if(names, [](const std::string& name) {
      return name == "config.xml" || name == "registry.reg" || name == "events.log" || name == "shutdown";
    });
    std::sort(names.begin(), names.end());
    return names;
  }

  TKelvo* FKelvo = nullptr;
};

using Names = std::vector<std::string>;

TEST_F(IntervalSaverTest, NewXmlFilesMatchTheirFormatByteForByte) {
  const struct {
    const char* Type;
    const char* FirstRun;
    const char* Appended;
  } rows[] = {
      {"XML",
       "<Kelvo caption=\"Kelvo_on_COM1\" date=\"14:05:33\"><data time=\"14:05\" "
       "value=\"23.5\"></data></Kelvo>",
       "<data time=\"14:06\" error=\"Kelvo not connected\"></data>"},
      {"XMLWA",
       "<Kelvo><caption>Kelvo_on_COM1</caption><date>14:05:33</date>"
       "<data><time>14:05</time><value>23.5</value></data></Kelvo>",
       "<data><time>14:06</time><error>Kelvo not connected</error></data>"},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.Type);
    fs::remove(FDir.File("20261207Kelvo_on_COM1.xml"));
    MakeSaver(std::string("type=\"") + row.Type + "\"");
    Receive(*FKelvo, 23.5f);
    TickAt(15.5);
    std::string first = std::string("<?xml version=\"1.0\" encoding=\"UTF-8\"?>\r\n") + row.FirstRun + "\r\n";
    EXPECT_EQ(FDir.Read("20261207Kelvo_on_COM1.xml"), first);
    Disconnect();
    TickAt(75.5);
    first.insert(first.rfind("</Kelvo>"), row.Appended);
    EXPECT_EQ(FDir.Read("20261207Kelvo_on_COM1.xml"), first);
    EXPECT_EQ(Files(), Names{"20261207Kelvo_on_COM1.xml"}) << "no temporary file stays behind";
  }
}

TEST_F(IntervalSaverTest, DefaultNameMovesToANewFileAfterMidnight) {
  MakeSaver("");
  Receive(*FKelvo, -5.0f);
  TickAt(15.5);
  TickAt(15.5 + 10 * 3600);  // 00:05:33 the next day
  EXPECT_EQ(Files(), (Names{"20261207Kelvo_on_COM1.xml", "20261208Kelvo_on_COM1.xml"}));
  EXPECT_EQ(FDir.Read("20261208Kelvo_on_COM1.xml"),
            "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\r\n"
            "<Kelvo caption=\"Kelvo_on_COM1\" date=\"00:05:33\"><data time=\"00:05\" "
            "value=\"-5.0\"></data></Kelvo>\r\n");
}

TEST_F(IntervalSaverTest, CaptionWithMarkupCharactersIsEscaped) {
  for (const char* type : {"XML", "XMLWA"}) {
    MakeSaver(std::string("type=\"") + type + "\" filename=\"" + type + "\"", "",
              "caption=\"A&amp;B &lt;&quot;&apos;&gt;\"");
    TickAt(15.5);
    EXPECT_NE(FDir.Read(std::string(type) + ".xml").find("A&amp;B &lt;&quot;&apos;&gt;"), std::string::npos)
        << type;
  }
}

TEST_F(IntervalSaverTest, TextLinesGrowOrAreRewritten) {
  const struct {
    const char* Label;
    const char* Attributes;
    const char* Content;
    const char* Expected;  // after two runs at 14:05:33 (23.5) and 14:06:33 (21.25)
  } rows[] = {
      {"DefaultLineGrows", "type=\"TXT\"", "",
       "07.12.2026 14:05:33\t 23.5\r\n07.12.2026 14:06:33\t 21.3\r\n"},
      {"RewriteKeepsTheLatestLine", "type=\"TXT\" rewrite=\"1\"", "", "07.12.2026 14:06:33\t 21.3\r\n"},
      {"RewriteZeroGrows", "type=\"txt\" rewrite=\"0\"", "<![CDATA[%VALUE%]]>", " 23.5\r\n 21.3\r\n"},
      {"RewriteNotANumberGrows", "type=\"TXT\" rewrite=\"yes\"", "<![CDATA[%VALUE%]]>", " 23.5\r\n 21.3\r\n"},
      {"TemplateFailureWritesItsText", "type=\"TXT\"", "<![CDATA[%#x%]]>",
       "!chyba prevodu!\r\n!chyba prevodu!\r\n"},
      {"TxtxAddsNoLineEnd", "type=\"TXTX\"", "", "07.12.2026 14:05:33\t 23.507.12.2026 14:06:33\t 21.3"},
      {"TxtxTemplateGivesItsOwnLineEnds", "type=\"TXTX\"", "<![CDATA[%VALUE%;%#13%%#10%]]>",
       " 23.5;\r\n 21.3;\r\n"},
      {"TxtxRewrite", "type=\"TXTX\" rewrite=\"1\"", "<![CDATA[<%VALUE%>]]>", "< 21.3>"},
  };
  for (const auto& row : rows) {
    MakeSaver(std::string("filename=\"") + row.Label + "\" " + row.Attributes, row.Content);
    Receive(*FKelvo, 23.5f);
    TickAt(15.5);
    Receive(*FKelvo, 21.25f);
    TickAt(75.5);
    EXPECT_EQ(FDir.Read(std::string(row.Label) + ".txt"), row.Expected) << row.Label;
  }
}

TEST_F(IntervalSaverTest, NotConnectedLineHasNoTimeStamp) {
  MakeSaver("type=\"TXT\" filename=\"line\"");
  TickAt(15.5);
  EXPECT_EQ(FDir.Read("line.txt"), "Kelvo not connected\r\n");
}

TEST_F(IntervalSaverTest, NameExtensionAndDirectoryRules) {
  const struct {
    const char* Attributes;
    const char* Expected;
  } rows[] = {
      {"type=\"TXT\" filename=\"data\"", "data.txt"},
      {"type=\"TXT\" filename=\"data\" extension=\"log\"", "data.log"},
      {"type=\"TXT\" filename=\"data\" extension=\"\"", "data."},
      {"type=\"TXTX\" filename=\"x\"", "x.txt"},
      {"type=\"\" filename=\"empty-type\"", "empty-type.xml"},
      {"type=\"XMLWA\"", "20261207Kelvo_on_COM1.xml"},
  };
  for (const auto& row : rows) {
    MakeSaver(row.Attributes);
    TickAt(15.5);
    EXPECT_TRUE(fs::exists(FDir.File(row.Expected))) << row.Attributes;
    fs::remove(FDir.File(row.Expected));
  }
  EXPECT_EQ(Files(), Names{});
}

TEST_F(IntervalSaverTest, DirectoryIsPutInFrontAsWrittenAndCreated) {
  FKelvo = Make("<Kelvo comport=\"1\"><SAVE type=\"TXT\" filename=\"data\" directory=\"" + FDir.File("sub") +
                "\"/></Kelvo>");
  TickAt(15.5);
  EXPECT_TRUE(fs::is_directory(FDir.File("sub")));
  EXPECT_TRUE(fs::exists(FDir.File("subdata.txt")));
}

TEST_F(IntervalSaverTest, UnknownTypeSavesNothingAndSaysSo) {
  test::TLogCapture log;
  MakeSaver("type=\"CSV\"");
  TickAt(15.5);
  EXPECT_EQ(Files(), Names{});
  EXPECT_EQ(log.Lines("Save to file"), Names{"[Kelvo_on_COM1] Save to file error - unknown type"});
}

TEST_F(IntervalSaverTest, DebugModeNamesTheSavedFile) {
  test::TLogCapture log;
  MakeSaver("type=\"TXT\" filename=\"data\"", "", "caption=\"Hall\"");
  TickAt(15.5);
  EXPECT_EQ(log.Lines("Save to file"),
            Names{"[Hall] > Save to file \"" + FDir.File("data.txt") + "\" (Hall)"});
}

TEST_F(IntervalSaverTest, UnwritableFileIsReportedAndTheNextRunTriesAgain) {
  test::TLogCapture log;
  FKelvo = Make("<Kelvo comport=\"1\"><SAVE type=\"TXT\" filename=\"data\" directory=\"" + FDir.File("a/b/") +
                "\"/></Kelvo>");
  TickAt(15.5);
  EXPECT_EQ(log.Lines("! Exception - Cannot open file").size(), 1u);
  fs::create_directories(FDir.File("a/b"));
  TickAt(75.5);
  EXPECT_EQ(FDir.Read("a/b/data.txt"), "Kelvo not connected\r\n");
}

TEST_F(IntervalSaverTest, DamagedXmlFileIsPutAsideWithAWarningAndANewOneBegins) {
  const std::string broken = "<?xml version=\"1.0\"?>\r\n<Kelvo><data></Kelvo>\r\n";
  FDir.Write("broken.xml", broken);
  MakeSaver("filename=\"broken\" type=\"XMLWA\"", "", "caption=\"Hall\"");
  TickAt(15.5);
  TickAt(75.5);
  EXPECT_EQ(Files(), (Names{"broken.xml", "broken.xml.corrupt-20261207140533"}));
  EXPECT_EQ(FDir.Read("broken.xml.corrupt-20261207140533"), broken);
  EXPECT_EQ(
      FDir.Read("broken.xml"),
      "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\r\n<Kelvo><caption>Hall</caption><date>14:05:33</date>"
      "<data><time>14:05</time><error>Kelvo not connected</error></data>"
      "<data><time>14:06</time><error>Kelvo not connected</error></data></Kelvo>\r\n");
  const std::vector<test::TEventEntry> events = test::ReadEventLog(FDir.File("events.log"));
  ASSERT_EQ(events.size(), 1u);
  EXPECT_EQ(events[0].Type, 2u) << "a warning";
  EXPECT_EQ(events[0].Text, "Cannot load XML file \"" + FDir.File("broken.xml") +
                                "\": Start-end tags mismatch at offset 38; it was renamed to \"" +
                                FDir.File("broken.xml.corrupt-20261207140533") + "\"");
}

TEST_F(IntervalSaverTest, WhatIsNoRegularFileAtTheSaveNameIsRefusedLeftAloneAndReportedOnce) {
  const std::string target = FDir.File("target");
  const struct {
    const char* Label;
    const char* Attributes;
    const char* Name;
    bool Fifo;  // else a symbolic link to target
  } rows[] = {
      {"appended text", "type=\"TXT\" filename=\"a\"", "a.txt", false},
      {"rewritten text", "type=\"TXT\" rewrite=\"1\" filename=\"b\"", "b.txt", false},
      {"xml", "type=\"XML\" filename=\"c\"", "c.xml", false},
      {"fifo", "type=\"TXT\" filename=\"d\"", "d.txt", true},
  };
  for (const auto& row : rows) {
    test::TLogCapture log;
    test::WriteFile(target, "<Kelvo>untouched</Kelvo>");
    const std::string path = FDir.File(row.Name);
    if (row.Fifo)
      ASSERT_EQ(::mkfifo(path.c_str(), 0600), 0);
    else
      fs::create_symlink(target, path);
    MakeSaver(row.Attributes);
    TickAt(15.5);  // returns: a FIFO without a reader is not waited for
    TickAt(75.5);
    EXPECT_EQ(test::ReadFile(target), "<Kelvo>untouched</Kelvo>") << row.Label;
    EXPECT_TRUE(row.Fifo ? fs::is_fifo(path) : fs::is_symlink(path)) << row.Label;
    const Names lines = log.Lines("! Exception");
    ASSERT_EQ(lines.size(), 2u) << row.Label;
    EXPECT_NE(lines[0].find("\"" + path + "\". It is "), std::string::npos) << lines[0];
    // In the journal too, where a service's operator looks, but not at every run.
    std::vector<test::TEventEntry> events = test::ReadEventLog(FDir.File("events.log"));
    std::erase_if(events,
                  [&](const test::TEventEntry& event) { return event.Text.find(path) == std::string::npos; });
    ASSERT_EQ(events.size(), 1u) << row.Label;
    EXPECT_EQ(events[0].Type, 2u) << row.Label;
    fs::remove(path);
  }
}

TEST_F(IntervalSaverTest, LoadedFileKeepsItsHeaderVersionAndOtherNodes) {
  FDir.Write("old.xml",
             "<?xml version=\"1.1\" encoding=\"UTF-8\"?>\n<!-- kept -->\n"
             "<Kelvo caption=\"Old\" date=\"09:00:00\">\n  <data time=\"09:00\" value=\"1.0\"/>\n</Kelvo>\n");
  MakeSaver("filename=\"old\"");
  TickAt(15.5);
  EXPECT_EQ(FDir.Read("old.xml"),
            "<?xml version=\"1.1\" encoding=\"UTF-8\"?>\r\n<!-- kept -->\r\n"
            "<Kelvo caption=\"Old\" date=\"09:00:00\"><data time=\"09:00\" value=\"1.0\"></data>"
            "<data time=\"14:05\" error=\"Kelvo not connected\"></data></Kelvo>\r\n");
}

// UTF-8 text to UTF-16LE with a byte-order mark (ASCII only, enough for these files).
std::string Utf16(const std::string& ascii) {
  std::string out = "\xFF\xFE";
  for (char c : ascii) out += std::string{c, '\0'};
  return out;
}

TEST_F(IntervalSaverTest, FileDeclaredInAnotherEncodingComesBackAsUtf16) {
  FDir.Write(
      "wide.xml",
      Utf16("<?xml version=\"1.0\" encoding=\"UTF-16\"?>\n<Kelvo caption=\"W\" date=\"x\"></Kelvo>\n"));
  MakeSaver("filename=\"wide\"");
  TickAt(15.5);
  EXPECT_EQ(FDir.Read("wide.xml"),
            Utf16("<?xml version=\"1.0\" encoding=\"UTF-16\"?>\n<Kelvo caption=\"W\" date=\"x\">"
                  "<data time=\"14:05\" error=\"Kelvo not connected\"></data></Kelvo>\n"));
}

}  // namespace
}  // namespace duz
