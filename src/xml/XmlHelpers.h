#pragma once
// The shared way every configuration reader reads its element: attributes with defaults, the
// CDATA template of an element, decimal separators of device text, and raw bytes for log lines.
#include <pugixml.hpp>
#include <string>
#include <string_view>

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
// Every "." and "," turned into the regional decimal separator (when that is "." or ",").
std::string NormalizeDecimalSeparator(std::string_view text);
// Bytes 33..122 as they are; runs of other bytes as {$0D,$0A}.
std::string EscapeForLog(std::string_view bytes);
// The element as the parser serialises it, for error reports.
std::string ElementXml(pugi::xml_node element);

}  // namespace duz
