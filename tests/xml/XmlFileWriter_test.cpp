#include "xml/XmlFileWriter.h"

#include <gtest/gtest.h>

#include "base/Exception.h"
#include "xml/XmlFileReader.h"

namespace duz {
namespace {

const std::string Declaration = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\r\n";

std::string Rewritten(const std::string& file) {
  pugi::xml_document document;
  ParseXmlFile(file, document);
  return SerializeXmlFile(document);
}

// UTF-8 text to UTF-16LE with a byte-order mark (ASCII and č, ě only, enough for these files).
std::string Utf16(const std::string& text) {
  std::string out = "\xFF\xFE";
  for (size_t i = 0; i < text.size(); ++i) {
    if (text.compare(i, 2, "\xC4\x9B") == 0) {
      out += std::string("\x1B\x01", 2);
      ++i;
    } else {
      out += std::string{text[i], '\0'};
    }
  }
  return out;
}

// Found by fuzzing: files whose structure or characters a save changed.
TEST(XmlFileWriter, WrittenFileReadsBackAsTheSameTree) {
  const struct {
    const char* Label;
    std::string File, Written;
  } rows[] = {
      {"ControlCharacterFormingTheEndOfCData", "<r><![CDATA[x]\x01]><y/>]]></r>",
       Declaration + "<r><![CDATA[x]]]]><![CDATA[><y/>]]></r>\r\n"},
      {"ControlCharacterFormingTheEndOfAnInstruction", "<r><?p a?\x01><x>?></r>",
       Declaration + "<r><?p a? ><x>?></r>\r\n"},
      {"ControlCharacterFormingTheEndOfAComment", "<r><!-- a -\x01-> b --></r>",
       Declaration + "<r><!-- a -- > b --></r>\r\n"},
      {"ControlCharacterFormingTheEndOfASectionInADoctype", "<!DOCTYPE r [<![x]]\x07>y]]>]><r/>",
       Declaration + "<!DOCTYPE r [<![x]] >y]]>]>\r\n<r></r>\r\n"},
      {"CarriageReturnInText", "<r>a&#13;b</r>", Declaration + "<r>a&#13;b</r>\r\n"},
      {"TabAndLineFeedInAttribute", "<r a=\"x&#9;y&#10;z\"/>",
       Declaration + "<r a=\"x&#9;y&#10;z\"></r>\r\n"},
      {"BlanksAfterTheInstructionTarget", "<r><?p \x02 v?></r>", Declaration + "<r><?p v?></r>\r\n"},
      {"Windows1250Declared", "<?xml version=\"1.0\" encoding=\"windows-1250\"?><r c=\"Teplom\xECr\"/>",
       Utf16("<?xml version=\"1.0\" encoding=\"UTF-16\"?>\n<r c=\"Teplom\xC4\x9Br\"></r>\n")},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.Label);
    const std::string written = Rewritten(row.File);
    EXPECT_EQ(written, row.Written);
    EXPECT_EQ(Rewritten(written), written);
  }
}

TEST(XmlFileWriter, BytesWithoutAUtf16FormFailTheSaveInsteadOfVanishing) {
  pugi::xml_document document;
  ParseXmlFile("<?xml version=\"1.0\" encoding=\"x-unknown\"?><r c=\"Teplom\xECr\"/>", document);
  EXPECT_THROW(SerializeXmlFile(document), Exception);
}

}  // namespace
}  // namespace duz
