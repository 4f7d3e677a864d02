#pragma once
// The configuration file: where the registry says it is, and its loading into a document. Shared by
// the platform and by the switches that read the configuration without starting one; any thread.
#include <pugixml.hpp>
#include <string>

namespace duz {

// The path in value "config" of the program's registry key ("" when there is none).
std::string ConfigFilePath();

// False when path names no regular file (the document is left alone). Raises Exception for a file
// that cannot be read or is too large, and "<path>(<line>,<column>): <what the parser found>" for
// one that is not well-formed.
bool LoadConfigFile(pugi::xml_document& document, const std::string& path);

}  // namespace duz
