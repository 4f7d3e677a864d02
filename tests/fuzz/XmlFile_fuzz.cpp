// The XML file writer and reader: a file loaded as the saver loads it, given a data element as a
// save adds one, is written and loaded again; the tree that comes back is the tree that was written
// (less the control characters XML cannot hold), and writing it again gives the same bytes. A save
// may only fail for bytes that have no UTF-16 form.
#include <pugixml.hpp>
#include <sstream>
#include <string>

#include "base/Exception.h"
#include "base/Utf8.h"
#include "fuzz/FuzzTarget.h"
#include "xml/XmlFileReader.h"
#include "xml/XmlFileWriter.h"

namespace duz {
namespace {

bool Load(pugi::xml_document& document, const std::string& bytes) {
  try {
    ParseXmlFile(bytes, document);
    return true;
  } catch (const Exception&) {
    return false;
  }
}

// The control characters that XML cannot hold: the writer leaves them out, or in a DOCTYPE writes
// a blank for each.
std::string Writable(const char* value, bool blank) {
  std::string out;
  for (const char* p = value; *p; ++p)
    if (static_cast<unsigned char>(*p) >= 0x20 || *p == '\t' || *p == '\r' || *p == '\n')
      out += *p;
    else if (blank)
      out += ' ';
  return out;
}

std::string BreakUp(std::string text, const std::string& terminator, const std::string& broken) {
  for (size_t at = 0; (at = text.find(terminator, at)) != std::string::npos; at += broken.size())
    text.replace(at, terminator.size(), broken);
  return text;
}

// The tree as text: node kinds, names, attributes and values, adjacent CDATA sections as one.
void Dump(pugi::xml_node node, bool writable, std::string& out) {
  for (pugi::xml_node child = node.first_child(); child; child = child.next_sibling()) {
    auto value = [&](const char* text) {
      return writable ? Writable(text, child.type() == pugi::node_doctype) : std::string(text);
    };
    if (child.type() == pugi::node_declaration) continue;
    // A text of blanks only is layout, which the reader drops.
    if (child.type() == pugi::node_pcdata &&
        value(child.value()).find_first_not_of(" \t\r\n") == std::string::npos)
      continue;
    const bool cdata = child.type() == pugi::node_cdata;
    if (!cdata || child.previous_sibling().type() != pugi::node_cdata)
      out += "{" + std::to_string(child.type()) + ":" + child.name() + ":";
    std::string text = value(child.value());
    // The blanks after DOCTYPE or the target of an instruction are syntax, not part of the value.
    if (child.type() == pugi::node_doctype || child.type() == pugi::node_pi)
      text.erase(0, text.find_first_not_of(" \t\r\n"));
    // A comment or an instruction cannot hold its terminator: the writer breaks it with a blank.
    if (writable && child.type() == pugi::node_comment) text = BreakUp(text, "-->", "-- >");
    if (writable && child.type() == pugi::node_pi) text = BreakUp(text, "?>", "? >");
    out += text;
    if (cdata && child.next_sibling().type() == pugi::node_cdata) continue;
    for (pugi::xml_attribute attribute : child.attributes())
      out += " " + std::string(attribute.name()) + "=" + value(attribute.value());
    Dump(child, writable, out);
    out += "}";
  }
}

bool IsUtf8(const pugi::xml_document& document) {
  std::ostringstream text;
  document.save(text, "", pugi::format_raw, pugi::encoding_utf8);
  const std::string bytes = text.str();
  for (size_t i = 0; i < bytes.size();)
    if (!NextUtf8(bytes, i)) return false;
  return true;
}

std::string Dump(const pugi::xml_document& document, bool writable) {
  std::string out;
  Dump(document, writable, out);
  return out;
}

void Run(FuzzedDataProvider& input) {
  const std::string caption = input.ConsumeRandomLengthString(64);
  const std::string file = input.ConsumeRemainingBytesAsString();
  pugi::xml_document document;
  if (!Load(document, file) || !document.document_element()) return;
  pugi::xml_node data = document.document_element().append_child("data");
  data.append_attribute("time").set_value(caption.c_str());
  data.append_child("value").text().set(caption.c_str());

  std::string written;
  try {
    written = SerializeXmlFile(document);
  } catch (const Exception&) {
    FUZZ_CHECK(!IsUtf8(document));
    return;
  }
  pugi::xml_document reloaded;
  FUZZ_CHECK(Load(reloaded, written));
  FUZZ_CHECK(Dump(reloaded, false) == Dump(document, true));
  // Written again, the file stays as it is (once texts of blanks only, which a reload drops, are gone).
  const std::string rewritten = SerializeXmlFile(reloaded);
  pugi::xml_document again;
  FUZZ_CHECK(Load(again, rewritten) && SerializeXmlFile(again) == rewritten);
}

}  // namespace
}  // namespace duz

void duz::fuzz::FuzzOneInput(FuzzedDataProvider& input) { duz::Run(input); }
