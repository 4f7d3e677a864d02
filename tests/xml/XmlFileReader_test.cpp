#include "xml/XmlFileReader.h"

#include <gtest/gtest.h>

#include "base/Exception.h"

namespace duz {
namespace {

TEST(XmlFileReader, BytesTheDeclaredEncodingDoesNotHaveAreAnError) {
  pugi::xml_document document;
  try {
    ParseXmlFile("<?xml version=\"1.0\" encoding=\"windows-1250\"?><r c=\"\x81\"/>", document);
    ADD_FAILURE() << "loaded";
  } catch (const Exception& error) {
    EXPECT_EQ(error.Message(), "not valid windows-1250 text");
  }
  EXPECT_THROW(ParseXmlFile("<r><a></r>", document), Exception);
}

}  // namespace
}  // namespace duz
