#pragma once
// The serialiser of the saved XML files (pugixml is only the document model here). The format is
// fixed byte for byte: the declaration, then every top-level node followed by a line end; start and
// end tags for every element; attributes in creation order; the five predefined entities in text
// and attribute values; control characters other than TAB, CR and LF left out. A document whose
// declaration names an encoding other than exactly "UTF-8" is written in UTF-16LE with a
// byte-order mark and LF line ends, otherwise UTF-8 without one and CR LF. A pure function.
#include <pugixml.hpp>
#include <string>

namespace duz {

std::string SerializeXmlFile(const pugi::xml_document& document);

}  // namespace duz
