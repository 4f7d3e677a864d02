#include "xml/XmlFileWriter.h"

#include <string_view>

#include "base/Exception.h"
#include "base/Utf8.h"

namespace duz {
namespace {

bool IsLeftOut(unsigned char c) { return c < 0x20 && c != '\t' && c != '\r' && c != '\n'; }

// Blanks after DOCTYPE or the target of an instruction are syntax: a reader never keeps them, nor
// those that leaving out control characters would bring to the front.
std::string_view Unindented(std::string_view text) {
  size_t start = 0;
  while (start < text.size() && (IsLeftOut(static_cast<unsigned char>(text[start])) ||
                                 std::string_view(" \t\r\n").find(text[start]) != std::string_view::npos))
    ++start;
  return text.substr(start);
}

std::string LeftOut(std::string_view text) {
  std::string kept;
  for (char c : text)
    if (!IsLeftOut(static_cast<unsigned char>(c))) kept += c;
  return kept;
}

class TXmlFileWriter {
 public:
  explicit TXmlFileWriter(std::string_view lineEnd) : FLineEnd(lineEnd) {}

  void WriteDeclaration(pugi::xml_node declaration, std::string_view encoding) {
    std::string_view version = declaration.attribute("version").value();
    Out += "<?xml version=\"";
    Escaped(version.empty() ? "1.0" : version);
    Out += "\" encoding=\"";
    Out += encoding;
    Out += '"';
    if (pugi::xml_attribute standalone = declaration.attribute("standalone")) Attribute(standalone);
    Out += "?>";
    Out += FLineEnd;
  }

  void WriteTopLevel(pugi::xml_node node) {
    Tree(node);
    Out += FLineEnd;
  }

  std::string Out;

 private:
  // Iterative, so that a deeply nested file cannot exhaust the stack.
  void Tree(pugi::xml_node root) {
    pugi::xml_node node = root;
    for (;;) {
      Start(node);
      if (node.type() == pugi::node_element && node.first_child()) {
        node = node.first_child();
        continue;
      }
      for (;;) {
        if (node.type() == pugi::node_element) End(node);
        if (node == root) return;
        if (node.next_sibling()) {
          node = node.next_sibling();
          break;
        }
        node = node.parent();
      }
    }
  }

  void Start(pugi::xml_node node) {
    switch (node.type()) {
      case pugi::node_element:
        Out += '<';
        Out += node.name();
        for (pugi::xml_attribute attribute : node.attributes()) Attribute(attribute);
        Out += '>';
        break;
      case pugi::node_pcdata:
        Escaped(node.value());
        break;
      case pugi::node_cdata:
        Section("<![CDATA[", node.value(), "]]>", "]]]]><![CDATA[>");
        break;
      case pugi::node_comment:
        Section("<!--", node.value(), "-->", "-- >");
        break;
      case pugi::node_pi: {
        const std::string_view instruction = Unindented(node.value());
        Out += "<?";
        Out += node.name();
        Section(instruction.empty() ? "" : " ", instruction, "?>", "? >");
        break;
      }
      case pugi::node_doctype:
        // No escapes here either, and leaving a control character out could join "]]" and ">"
        // into the end of a section: each is written as a blank, which never forms syntax.
        Out += "<!DOCTYPE ";
        for (char c : Unindented(node.value())) Out += IsLeftOut(static_cast<unsigned char>(c)) ? ' ' : c;
        Out += '>';
        break;
      default:
        break;
    }
  }

  void End(pugi::xml_node element) {
    Out += "</";
    Out += element.name();
    Out += '>';
  }

  void Attribute(pugi::xml_attribute attribute) {
    Out += ' ';
    Out += attribute.name();
    Out += "=\"";
    Escaped(attribute.value(), true);
    Out += '"';
  }

  // A reader turns TAB and line ends of an attribute value into blanks, and a CR of a text into
  // a line end: those are written as character references, so that they come back as they are.
  void Escaped(std::string_view text, bool inAttribute = false) {
    for (char c : text) {
      switch (c) {
        case '"':
          Out += "&quot;";
          break;
        case '&':
          Out += "&amp;";
          break;
        case '\'':
          Out += "&apos;";
          break;
        case '<':
          Out += "&lt;";
          break;
        case '>':
          Out += "&gt;";
          break;
        case '\r':
          Out += "&#13;";
          break;
        case '\t':
        case '\n':
          if (inAttribute)
            Out += c == '\t' ? "&#9;" : "&#10;";
          else
            Out += c;
          break;
        default:
          if (!IsLeftOut(static_cast<unsigned char>(c))) Out += c;
      }
    }
  }

  // CDATA, comments and processing instructions have no escapes: their terminator, present or
  // formed by leaving out a control character, is broken up, so that the section never ends early.
  void Section(std::string_view open, std::string_view text, std::string_view close,
               std::string_view broken) {
    std::string kept = LeftOut(text);
    for (size_t at = 0; (at = kept.find(close, at)) != std::string::npos; at += broken.size())
      kept.replace(at, close.size(), broken);
    Out += open;
    Out += kept;
    Out += close;
  }

  std::string_view FLineEnd;
};

// Bytes that are not UTF-8 (a file whose encoding could not be decoded) have no UTF-16 form: the
// save fails rather than drop them.
std::string Utf16LittleEndianWithBom(const std::string& utf8) {
  std::string out = "\xFF\xFE";
  for (size_t i = 0; i < utf8.size();) {
    const std::optional<uint32_t> character = NextUtf8(utf8, i);
    if (!character)
      throw Exception("The document holds bytes that are not UTF-8 and cannot be written as UTF-16");
    AppendUtf16Le(out, *character);
  }
  return out;
}

}  // namespace

std::string SerializeXmlFile(const pugi::xml_document& document) {
  pugi::xml_node declaration;
  for (pugi::xml_node node : document.children())
    if (node.type() == pugi::node_declaration) declaration = node;
  pugi::xml_attribute encoding = declaration.attribute("encoding");
  const bool utf16 = encoding && std::string_view(encoding.value()) != "UTF-8";

  TXmlFileWriter writer(utf16 ? "\n" : "\r\n");
  writer.WriteDeclaration(declaration, utf16 ? "UTF-16" : "UTF-8");
  for (pugi::xml_node node : document.children())
    if (node.type() != pugi::node_declaration) writer.WriteTopLevel(node);
  return utf16 ? Utf16LittleEndianWithBom(writer.Out) : std::move(writer.Out);
}

}  // namespace duz
