#pragma once
// The loader of the saved XML files, the counterpart of SerializeXmlFile: every node kind is kept
// (declaration, doctype, comments, processing instructions, CDATA, whitespace), line ends are
// normalised as XML says. A file whose declaration names an encoding other than UTF-8 and UTF-16
// (old files say windows-1250) is decoded from that encoding first, so that its characters reach
// the document as UTF-8 and can be written back as UTF-16. A pure function.
#include <pugixml.hpp>
#include <string_view>

namespace duz {

// Raises Exception "<what the parser found> at offset <n>" for a file that is not well-formed, and
// "not valid <encoding> text" for bytes that its declared encoding does not have.
void ParseXmlFile(std::string_view bytes, pugi::xml_document& document);

}  // namespace duz
