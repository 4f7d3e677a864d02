#include "core/XmlFileWriter.h"

#include <string_view>

namespace duz {
namespace {

bool IsLeftOut(unsigned char c) { return c < 0x20 && c != '\t' && c != '\r' && c != '\n'; }

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
        Wrapped("<![CDATA[", node.value(), "]]>");
        break;
      case pugi::node_comment:
        Wrapped("<!--", node.value(), "-->");
        break;
      case pugi::node_pi:
        Out += "<?";
        Out += node.name();
        if (*node.value()) Out += ' ';
        Wrapped("", node.value(), "?>");
        break;
      case pugi::node_doctype:
        Wrapped("<!DOCTYPE ", node.value(), ">");
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
    Escaped(attribute.value());
    Out += '"';
  }

  void Escaped(std::string_view text) {
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
        default:
          if (!IsLeftOut(static_cast<unsigned char>(c))) Out += c;
      }
    }
  }

  void Wrapped(std::string_view open, std::string_view text, std::string_view close) {
    Out += open;
    for (char c : text)
      if (!IsLeftOut(static_cast<unsigned char>(c))) Out += c;
    Out += close;
  }

  std::string_view FLineEnd;
};

std::string Utf16LittleEndianWithBom(const std::string& utf8) {
  std::string out = "\xFF\xFE";
  auto unit = [&out](uint32_t value) {
    out += static_cast<char>(value & 0xFF);
    out += static_cast<char>(value >> 8);
  };
  for (wchar_t wide : pugi::as_wide(utf8.c_str())) {
    auto code = static_cast<uint32_t>(wide);
    if (code < 0x10000) {
      unit(code);
    } else {
      code -= 0x10000;
      unit(0xD800 | (code >> 10));
      unit(0xDC00 | (code & 0x3FF));
    }
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
