#include "xml/XmlFileReader.h"

#include <iconv.h>
#include <strings.h>

#include <cerrno>
#include <optional>
#include <string>

#include "base/Exception.h"

namespace duz {
namespace {

void Parse(std::string_view bytes, pugi::xml_document& document, pugi::xml_encoding encoding) {
  const pugi::xml_parse_result result =
      document.load_buffer(bytes.data(), bytes.size(), pugi::parse_full, encoding);
  if (!result)
    throw Exception(std::string(result.description()) + " at offset " + std::to_string(result.offset));
}

bool IsUnicode(const char* label) {
  return ::strcasecmp(label, "UTF-8") == 0 || ::strcasecmp(label, "UTF8") == 0 ||
         ::strcasecmp(label, "UTF-16") == 0 || ::strcasecmp(label, "UTF16") == 0;
}

// A byte-order mark decides the encoding, whatever the declaration says.
bool HasByteOrderMark(std::string_view bytes) {
  return bytes.starts_with("\xEF\xBB\xBF") || bytes.starts_with("\xFF\xFE") || bytes.starts_with("\xFE\xFF");
}

// The bytes as UTF-8; nothing when the system does not know the encoding.
std::optional<std::string> ToUtf8(std::string_view bytes, const char* encoding) {
  iconv_t converter = ::iconv_open("UTF-8", encoding);
  if (converter == reinterpret_cast<iconv_t>(-1)) return std::nullopt;
  std::string out(bytes.size() * 4 + 4, '\0');  // no character grows beyond four bytes
  char* in = const_cast<char*>(bytes.data());
  size_t inLeft = bytes.size(), outLeft = out.size();
  char* next = out.data();
  const size_t converted = ::iconv(converter, &in, &inLeft, &next, &outLeft);
  ::iconv_close(converter);
  if (converted == static_cast<size_t>(-1)) throw Exception(std::string("not valid ") + encoding + " text");
  out.resize(out.size() - outLeft);
  return out;
}

}  // namespace

void ParseXmlFile(std::string_view bytes, pugi::xml_document& document) {
  Parse(bytes, document, pugi::encoding_auto);
  const char* encoding = "";
  for (pugi::xml_node node : document.children())
    if (node.type() == pugi::node_declaration) encoding = node.attribute("encoding").value();
  if (!*encoding || IsUnicode(encoding) || HasByteOrderMark(bytes)) return;
  if (const std::optional<std::string> utf8 = ToUtf8(bytes, encoding))
    Parse(*utf8, document, pugi::encoding_utf8);
}

}  // namespace duz
