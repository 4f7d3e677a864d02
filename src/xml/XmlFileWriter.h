#pragma once
// The serialiser of the saved XML files (pugixml is only the document model here). The format is
// fixed byte for byte: the declaration, then every top-level node followed by a line end; start and
// end tags for every element; attributes in creation order; the five predefined entities in text
// and attribute values (and character references where a reader would change a character: TAB and
// line ends in attribute values, CR in text); control characters other than TAB, CR and LF left
// out, without ever letting a CDATA section, comment or processing instruction end early. A
// document whose declaration names an encoding other than exactly "UTF-8" is written in UTF-16LE
// with a byte-order mark and LF line ends, otherwise UTF-8 without one and CR LF. What
// ParseXmlFile reads back is the tree that was written. A pure function.
#include <pugixml.hpp>
#include <string>

namespace duz {

// Raises Exception for a UTF-16 document that holds bytes that are not UTF-8: they have no UTF-16
// form, and dropping them would lose data.
std::string SerializeXmlFile(const pugi::xml_document& document);

}  // namespace duz
