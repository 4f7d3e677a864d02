#include "xml/XmlHelpers.h"

#include <fmt/format.h>

#include <sstream>

#include "base/Exception.h"
#include "base/RegionalSettings.h"

namespace duz {

TVariant GetAttrDef(pugi::xml_node element, const char* name, const TVariant& defaultValue) {
  const pugi::xml_attribute attribute = element.attribute(name);
  TVariant result = attribute ? TVariant(std::string(attribute.value())) : defaultValue;
  if (result.IsNull()) throw Exception("Variant is Null !!!! ***");
  if (result.IsEmpty()) throw Exception("Variant is Empty !!!! ***");
  return result;
}

pugi::xml_node FindCDataNode(pugi::xml_node element) {
  for (pugi::xml_node child = element.first_child(); child; child = child.next_sibling()) {
    if (child.type() == pugi::node_cdata) return child;
  }
  return {};
}

std::string GetCDataText(pugi::xml_node element) { return FindCDataNode(element).value(); }

std::string NormalizeDecimalSeparator(std::string_view text) {
  std::string result(text);
  const char separator = RegionalSettings().DecimalSeparator;
  if (separator == ',' || separator == '.') {
    const char other = separator == ',' ? '.' : ',';
    for (char& c : result) {
      if (c == other) c = separator;
    }
  }
  return result;
}

std::string EscapeForLog(std::string_view bytes) {
  std::string result;
  bool open = false;
  for (const char c : bytes) {
    const auto byte = static_cast<unsigned char>(c);
    if (byte >= 33 && byte <= 122) {
      if (open) result += '}';
      result += c;
      open = false;
    } else {
      result += open ? ',' : '{';
      result += fmt::format("${:02X}", byte);
      open = true;
    }
  }
  if (open) result += '}';
  return result;
}

std::string ElementXml(pugi::xml_node element) {
  std::ostringstream out;
  element.print(out, "", pugi::format_raw);
  return out.str();
}

}  // namespace duz
