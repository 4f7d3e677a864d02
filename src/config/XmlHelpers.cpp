#include "config/XmlHelpers.h"

#include <sstream>

#include "base/Exception.h"

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

std::string ElementXml(pugi::xml_node element) {
  std::ostringstream out;
  element.print(out, "", pugi::format_raw);
  return out.str();
}

pugi::xml_node Counterpart(pugi::xml_node node, pugi::xml_node from, pugi::xml_node to) {
  if (node == from) return to;
  if (!node) return {};
  const pugi::xml_node parent = Counterpart(node.parent(), from, to);
  pugi::xml_node child = parent.first_child();
  for (pugi::xml_node sibling = node.parent().first_child(); sibling != node;
       sibling = sibling.next_sibling())
    child = child.next_sibling();
  return child;
}

}  // namespace duz
