#include "config/RegFile.h"

#include <gtest/gtest.h>

#include "config/Registry.h"

namespace duz {
namespace {

const std::string Key = "HKEY_LOCAL_MACHINE\\SOFTWARE\\Quellix\\Duzezevovivo";

// Written as the registry editor writes it, with a few hand edits.
const std::string Sample =
    "Windows Registry Editor Version 5.00\r\n"
    "\r\n"
    "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Quellix\\Duzezevovivo]\r\n"
    "\"config\"=\"C:\\\\Kelvo\\\\config.xml\"\r\n"
    "\"Quoted\"=\"say \\\"hi\\\"\"\r\n"
    "@=\"default\"\r\n"
    "\"Count\"=dword:0000001f\r\n"
    "; a comment kept as it is\r\n"
    "\"Expand\"=hex(2):25,00,53,00,79,00,73,00,74,00,65,00,6d,00,52,00,6f,00,6f,00,\\\r\n"
    "  74,00,25,00,5c,00,78,00,00,00\r\n"
    "\"Blob\"=hex:01,02,ff\r\n"
    "\"Multi\"=hex(7):61,00,00,00,62,00,00,00,00,00\r\n"
    "\"Gone\"=-\r\n"
    "this line means nothing\r\n"
    "\r\n"
    "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Quellix\\Duzezevovivo\\ComPorts]\r\n"
    "\"COM1\"=\"/dev/ttyUSB0\"\r\n"
    "\r\n"
    "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Quellix\\Duzezevovivo]\r\n"
    "\"Later\"=\"listed twice\"\r\n";

std::optional<std::string> StringOf(const TRegFile& file, const std::string& key, const std::string& name) {
  const TRegValue* value = file.Find(key, name);
  return value ? value->AsString() : std::nullopt;
}

TEST(RegFileTest, ValuesOfEveryFormAreRead) {
  const TRegFile file = TRegFile::Parse(Sample);
  struct TRow {
    const char* Label;
    std::string Key, Name;
    std::optional<std::string> Expected;
  } rows[] = {
      {"escaped backslashes", Key, "config", "C:\\Kelvo\\config.xml"},
      {"escaped quotes", Key, "Quoted", "say \"hi\""},
      {"default value", Key, "", "default"},
      {"expand string continued over two lines, unexpanded", Key, "Expand", "%SystemRoot%\\x"},
      {"subkey", Key + "\\ComPorts", "COM1", "/dev/ttyUSB0"},
      {"key listed twice", Key, "Later", "listed twice"},
      {"names ignore case", Key, "CONFIG", "C:\\Kelvo\\config.xml"},
      {"keys ignore case", "hkey_local_machine\\software\\quellix\\DUZEZEVOVIVO\\comports", "com1",
       "/dev/ttyUSB0"},
  };
  for (const auto& row : rows) EXPECT_EQ(StringOf(file, row.Key, row.Name), row.Expected) << row.Label;
}

TEST(RegFileTest, NonStringTypesKeepTheirTypeAndBytes) {
  const TRegFile file = TRegFile::Parse(Sample);
  struct TRow {
    const char* Name;
    uint32_t Type;
    std::string Data;
  } rows[] = {
      {"Count", REG_DWORD, std::string("\x1f\0\0\0", 4)},
      {"Blob", REG_BINARY, "\x01\x02\xff"},
      {"Multi", 7, std::string("a\0\0\0b\0\0\0\0\0", 10)},
  };
  for (const auto& row : rows) {
    const TRegValue* value = file.Find(Key, row.Name);
    ASSERT_NE(value, nullptr) << row.Name;
    EXPECT_EQ(value->Type, row.Type) << row.Name;
    EXPECT_EQ(value->Data, row.Data) << row.Name;
    EXPECT_EQ(value->AsString(), std::nullopt) << row.Name;
  }
}

TEST(RegFileTest, DeletionsAndNonsenseAreNoValues) {
  const TRegFile file = TRegFile::Parse(Sample);
  EXPECT_EQ(file.Find(Key, "Gone"), nullptr);
  EXPECT_EQ(file.Find(Key, "Missing"), nullptr);
  EXPECT_EQ(file.Find(Key + "\\Missing", "config"), nullptr);
}

TEST(RegFileTest, UnchangedFileIsWrittenBackByteForByte) {
  EXPECT_EQ(TRegFile::Parse(Sample).Serialize(), Sample);
  std::string unix = Sample;
  std::erase(unix, '\r');
  EXPECT_EQ(TRegFile::Parse(unix).Serialize(), unix);
}

TEST(RegFileTest, EveryTruncationParsesAndSurvivesARoundTrip) {
  for (size_t length = 0; length <= Sample.size(); ++length) {
    const std::string text = Sample.substr(0, length);
    const std::string once = TRegFile::Parse(text).Serialize();
    EXPECT_EQ(TRegFile::Parse(once).Serialize(), once) << "length " << length;
    const TRegFile file = TRegFile::Parse(text);
    if (const TRegValue* value = file.Find(Key, "Expand")) {
      // A cut inside the continued hex data is a shorter value or none, never garbage text.
      const auto expanded = value->AsString();
      ASSERT_TRUE(expanded.has_value());
      EXPECT_TRUE(std::string("%SystemRoot%\\x").starts_with(*expanded))
          << "length " << length << ": " << *expanded;
    }
  }
}

TEST(RegFileTest, ChangingOneValueKeepsEveryOtherLine) {
  TRegFile file = TRegFile::Parse(Sample);
  file.SetValue(Key, TRegValue::Text("CONFIG", "/etc/kelvo.xml"));
  const std::string written = file.Serialize();
  std::string expected = Sample;
  const std::string oldLine = "\"config\"=\"C:\\\\Kelvo\\\\config.xml\"";
  expected.replace(expected.find(oldLine), oldLine.size(), "\"CONFIG\"=\"/etc/kelvo.xml\"");
  EXPECT_EQ(written, expected);
}

TEST(RegFileTest, NewValuesAndKeysAreAddedReadably) {
  TRegFile file = TRegFile::Parse(Sample);
  file.SetValue(Key + "\\ComPorts", TRegValue::Text("COM2", "/dev/ttyS5"));
  file.SetValue(Key + "\\International", TRegValue::Dword("Flags", 0xABCDEF01));
  const std::string written = file.Serialize();
  EXPECT_NE(written.find("\"COM1\"=\"/dev/ttyUSB0\"\r\n\"COM2\"=\"/dev/ttyS5\"\r\n\r\n"), std::string::npos)
      << written;
  EXPECT_TRUE(written.ends_with("\r\n\r\n[" + Key + "\\International]\r\n\"Flags\"=dword:abcdef01\r\n"))
      << written;
  const TRegFile reread = TRegFile::Parse(written);
  EXPECT_EQ(StringOf(reread, Key + "\\ComPorts", "COM2"), "/dev/ttyS5");
  EXPECT_EQ(reread.Find(Key + "\\International", "Flags")->Data, "\x01\xef\xcd\xab");
}

TEST(RegFileTest, EmptyFileBecomesAFileTheEditorReads) {
  TRegFile file = TRegFile::Parse("");
  file.SetValue(Key, TRegValue::Text("config", "/etc/x.xml"));
  EXPECT_EQ(file.Serialize(),
            "Windows Registry Editor Version 5.00\r\n\r\n[" + Key + "]\r\n\"config\"=\"/etc/x.xml\"\r\n");
}

TEST(RegFileTest, TextsSurviveWritingAndReading) {
  struct TRow {
    const char* Label;
    std::string Text;
  } rows[] = {
      {"quotes and backslashes", "a\\\"b\\\\c\"\\"},
      {"line break cannot start a key", "x\r\n[HKEY_LOCAL_MACHINE\\Evil]\r\n\"a\"=\"b\""},
      {"non-ASCII", "Teplom\xc4\x9br \xf0\x9f\x8c\xa1"},
      {"empty", ""},
  };
  for (const auto& row : rows) {
    TRegFile file;
    file.SetValue(Key, TRegValue::Text("v", row.Text));
    const TRegFile reread = TRegFile::Parse(file.Serialize());
    EXPECT_EQ(StringOf(reread, Key, "v"), row.Text) << row.Label;
    EXPECT_FALSE(reread.HasKey("HKEY_LOCAL_MACHINE\\Evil")) << row.Label;
  }
}

TEST(RegFileTest, LongHexDataIsWrappedAndReadBack) {
  TRegFile file;
  const std::string path(100, 'p');
  file.SetValue(Key, TRegValue::Text("v", path + "\n"));
  const std::string written = file.Serialize();
  for (size_t start = 0, end; (end = written.find("\r\n", start)) != std::string::npos; start = end + 2) {
    EXPECT_LE(end - start, 80u) << written.substr(start, end - start);
  }
  EXPECT_EQ(StringOf(TRegFile::Parse(written), Key, "v"), path + "\n");
}

TEST(RegFileTest, DeletingAKeyTakesItsSubkeysButNotItsNamesakes) {
  TRegFile file = TRegFile::Parse(Sample);
  file.SetValue("HKEY_LOCAL_MACHINE\\SOFTWARE\\Quellix\\DuzezevovivoOther", TRegValue::Text("a", "b"));
  EXPECT_TRUE(file.DeleteKey("hkey_local_machine\\software\\quellix\\duzezevovivo"));
  EXPECT_FALSE(file.HasKey(Key));
  EXPECT_FALSE(file.HasKey(Key + "\\ComPorts"));
  EXPECT_TRUE(file.HasKey("HKEY_LOCAL_MACHINE\\SOFTWARE\\Quellix\\DuzezevovivoOther"));
  EXPECT_FALSE(file.DeleteKey(Key));
}

TEST(RegFileTest, ParentOfAListedKeyExists) {
  const TRegFile file = TRegFile::Parse(Sample);
  EXPECT_TRUE(file.HasKey("HKEY_LOCAL_MACHINE\\SOFTWARE\\Quellix"));
  EXPECT_FALSE(file.HasKey("HKEY_LOCAL_MACHINE\\SOFTWARE\\Quell"));
}

TEST(RegFileTest, Utf16ExportOfTheEditorIsRead) {
  const std::string text =
      "Windows Registry Editor Version 5.00\r\n\r\n[" + Key + "]\r\n\"config\"=\"/etc/\xc4\x8d.xml\"\r\n";
  std::string utf16 = "\xFF\xFE";
  for (char c : text) {
    if (c == '\xc4') continue;
    // č is U+010D; every other character here is ASCII.
    utf16 += c == '\x8d' ? std::string("\x0d\x01", 2) : std::string{c, '\0'};
  }
  EXPECT_EQ(StringOf(TRegFile::Parse(utf16), Key, "config"), "/etc/\xc4\x8d.xml");
}

// Found by fuzzing: files on which a write changed what other values meant.
TEST(RegFileTest, WritesKeepTheMeaningOfOddFiles) {
  const std::string header = "Windows Registry Editor Version 5.00\n\n";
  const struct {
    const char* Label;
    std::string Text;
    std::string Name;  // a value of Key, present before the write
  } rows[] = {
      {"ContinuationLeftOpenAtTheEnd", header + "[" + Key + "]\n\"a\"=dword:00000001\n\"x\"=hex:01,\\\n",
       "a"},
      {"CarriageReturnsBeforeTheLineEnd", header + "[" + Key + "]\r\r\n\"a\"=\"1\"\n", "a"},
      {"CarriageReturnInsideALine", header + "[" + Key + "]\n\"a\"=\"1\"\r\"b\"=\"2\"\n", "b"},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.Label);
    TRegFile file = TRegFile::Parse(row.Text);
    const TRegValue* before = file.Find(Key, row.Name);
    ASSERT_NE(before, nullptr);
    const std::string data = before->Data;
    file.SetValue(Key, TRegValue::Text("new", "value"));
    const std::string once = file.Serialize();
    const TRegFile reread = TRegFile::Parse(once);
    ASSERT_NE(reread.Find(Key, row.Name), nullptr);
    EXPECT_EQ(reread.Find(Key, row.Name)->Data, data);
    EXPECT_EQ(StringOf(reread, Key, "new"), "value");
    file.SetValue(Key, TRegValue::Text("new", "value"));
    EXPECT_EQ(file.Serialize(), once) << "the same write again must not add a line";
  }
}

TEST(RegFileTest, NamesThatCannotBeWrittenInALineAreRefused) {
  const struct {
    const char* Label;
    std::string Key, Name;
  } rows[] = {
      {"LineFeedInName", Key, "a\n\"b\"=\"c\""},   {"CarriageReturnInName", Key, "a\r"},
      {"ZeroInName", Key, std::string("a\0b", 3)}, {"LineFeedInKey", Key + "\n[Other]", "a"},
      {"KeyReadAsADeletion", "-" + Key, "a"},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.Label);
    TRegFile file = TRegFile::Parse(Sample);
    EXPECT_THROW(file.SetValue(row.Key, TRegValue::Text(row.Name, "v")), ERegistryException);
    EXPECT_THROW(file.CreateKey(row.Key + "\\sub\n"), ERegistryException);
    EXPECT_EQ(file.Serialize(), Sample);
  }
}

}  // namespace
}  // namespace duz
