#include "config/XmlHelpers.h"

#include <gtest/gtest.h>

#include "base/Exception.h"

namespace duz {
namespace {

pugi::xml_document Parse(const char* text) {
  pugi::xml_document doc;
  EXPECT_TRUE(doc.load_string(text, pugi::parse_default | pugi::parse_comments)) << text;
  return doc;
}

TEST(GetAttrDefTest, AttributeTextOrDefault) {
  const auto doc = Parse(R"(<r><a wait="3"/><b/><c wait=""/><d Wait="5"/></r>)");
  const pugi::xml_node root = doc.first_child();
  struct TRow {
    const char* Label;
    pugi::xml_node Element;
    bool IsText;
    std::string Text;
  } rows[] = {
      {"present", root.child("a"), true, "3"},
      {"missing gives the default", root.child("b"), false, "10"},
      {"present but empty is not the default", root.child("c"), true, ""},
      {"names are matched exactly", root.child("d"), false, "10"},
      {"absent element gives the default", root.child("nothing"), false, "10"},
  };
  for (const auto& row : rows) {
    const TVariant value = GetAttrDef(row.Element, "wait", 10);
    EXPECT_EQ(value.IsText(), row.IsText) << row.Label;
    EXPECT_EQ(value.ToString(), row.Text) << row.Label;
  }
}

TEST(GetAttrDefTest, NullOrEmptyDefaultRaisesOnlyWhenUsed) {
  const auto doc = Parse(R"(<a wait="1"/>)");
  const pugi::xml_node element = doc.first_child();
  struct TRow {
    const char* Label;
    TVariant Default;
    const char* Message;
  } rows[] = {
      {"null", TVariant(TVariant::Null{}), "Variant is Null !!!! ***"},
      {"empty", TVariant(), "Variant is Empty !!!! ***"},
  };
  for (const auto& row : rows) {
    try {
      GetAttrDef(element, "other", row.Default);
      ADD_FAILURE() << row.Label << " default was returned";
    } catch (const Exception& e) {
      EXPECT_EQ(e.Message(), row.Message) << row.Label;
    }
    EXPECT_EQ(GetAttrDef(element, "wait", row.Default).ToString(), "1") << row.Label;
  }
}

TEST(CDataTest, FirstCDataChildIsFoundBehindOtherNodes) {
  const auto doc = Parse(
      "<r><a>text<!-- note --><![CDATA[http://x/?t=%T%\n  next]]><![CDATA[second]]></a>"
      "<b>only text</b><c/></r>");
  const pugi::xml_node root = doc.first_child();
  EXPECT_EQ(GetCDataText(root.child("a")), "http://x/?t=%T%\n  next");
  EXPECT_EQ(FindCDataNode(root.child("a")).type(), pugi::node_cdata);
  for (const char* name : {"b", "c", "missing"}) {
    EXPECT_FALSE(FindCDataNode(root.child(name))) << name;
    EXPECT_EQ(GetCDataText(root.child(name)), "") << name;
  }
}

TEST(ElementXmlTest, ElementIsPrintedOnOneLineWithItsChildren) {
  const auto doc = Parse("<r>\n  <Kelvo caption=\"a&amp;b\">\n    <SAVE/>\n    <!-- c -->\n  </Kelvo>\n</r>");
  EXPECT_EQ(ElementXml(doc.first_child().first_child()),
            "<Kelvo caption=\"a&amp;b\"><SAVE/><!-- c --></Kelvo>");
}

}  // namespace
}  // namespace duz
