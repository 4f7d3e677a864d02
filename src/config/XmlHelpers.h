#pragma once
// The shared way every configuration reader reads its element: attributes with defaults, the
// CDATA template of an element, and the element's text for error reports.
#include <pugixml.hpp>
#include <string>

#include "base/Variant.h"

namespace duz {

// The attribute's text if the element has an attribute of exactly that name (empty text when
// present but empty), else the default. Raises Exception "Variant is Null !!!! ***" or
// "Variant is Empty !!!! ***" when the result is a null or empty default.
TVariant GetAttrDef(pugi::xml_node element, const char* name, const TVariant& defaultValue);
// The element's first child of type CDATA section, or an empty node.
pugi::xml_node FindCDataNode(pugi::xml_node element);
// Text of that CDATA section exactly as stored, or "".
std::string GetCDataText(pugi::xml_node element);
// The element as the parser serialises it, for error reports.
std::string ElementXml(pugi::xml_node element);
// The node that lies in to where node lies in from (the same child of the same child ...), for an
// object that moves from an element to one of the same text in another document. node must lie in
// from, or be it.
pugi::xml_node Counterpart(pugi::xml_node node, pugi::xml_node from, pugi::xml_node to);

}  // namespace duz
