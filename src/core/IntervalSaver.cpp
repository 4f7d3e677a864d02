#include "core/IntervalSaver.h"

#include <fcntl.h>
#include <strings.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <string_view>
#include <system_error>

#include "base/Clock.h"
#include "base/DebugMode.h"
#include "base/Exception.h"
#include "base/FileWrite.h"
#include "base/FloatFormat.h"
#include "base/FormatDateTime.h"
#include "base/UpperCase.h"
#include "base/Variant.h"
#include "core/Kelvo.h"
#include "core/XmlFileReader.h"
#include "core/XmlFileWriter.h"
#include "log/Logger.h"
#include "xml/XmlHelpers.h"

namespace duz {
namespace {

constexpr const char* NotConnected = "Kelvo not connected";
// A day of readings every minute is about 100 KiB; a file this large is not one of ours.
constexpr size_t MaxXmlFileSize = 64 * 1024 * 1024;

bool EqualsNoCase(std::string_view text, const char* word) {
  return text.size() == std::char_traits<char>::length(word) &&
         ::strncasecmp(text.data(), word, text.size()) == 0;
}

[[noreturn]] void FileError(const char* what, const std::string& path, int error) {
  throw Exception(std::string(what) + " \"" + path + "\". " + std::system_category().message(error));
}

void AppendToFile(const std::string& path, std::string_view bytes) {
  int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
  if (fd < 0) FileError("Cannot open file", path, errno);
  const off_t start = AppendStart(fd);
  bool written = WriteAll(fd, bytes);
  if (!written) UndoAppend(fd, start);  // a full disk must not leave half a line
  int error = errno;
  ::close(fd);
  if (!written) FileError("Cannot write file", path, error);
}

// Written beside the file and renamed over it: a crash or a full disk in the middle of a save
// leaves the old file whole, never a truncated one. Not synced: a flush to the disk would cost more
// than the whole save, and a power loss then costs at most the latest run.
void ReplaceFile(const std::string& path, std::string_view bytes) {
  if (int error = ReplaceFileContent(path, bytes, false)) FileError("Cannot write file", path, error);
}

bool FileExists(const std::string& path) {
  std::error_code ignored;
  return std::filesystem::exists(path, ignored);
}

std::string DefaultLine(TKelvo& subservice, TDateTime now) {
  if (!subservice.IsConnected()) return NotConnected;
  return FormatDateTime("c", now) + "\t" + FormatTemperature(subservice.Temperature());
}

// A `rewrite` that is not a number is a configuration error; it counts as "keep appending".
bool RewriteIsOne(pugi::xml_node element) {
  pugi::xml_attribute rewrite = element.attribute("rewrite");
  if (!rewrite) return false;
  try {
    return TVariant(rewrite.value()).ToDouble() == 1;
  } catch (const EConvertError&) {
    return false;
  }
}

void AddField(pugi::xml_node parent, const char* name, const std::string& value, bool asAttribute) {
  if (asAttribute)
    parent.append_attribute(name).set_value(value.c_str());
  else
    parent.append_child(name).text().set(value.c_str());
}

}  // namespace

std::string TIntervalSaver::Type() const {
  const std::string type = Element().attribute("type").value();
  return type.empty() ? "XML" : type;
}

std::string TIntervalSaver::FilePath(const std::string& caption, TDateTime now) const {
  const pugi::xml_node element = Element();
  const std::string type = Type();
  pugi::xml_attribute filename = element.attribute("filename");
  std::string name = filename ? filename.value() : FormatDateTime("yyyymmdd", now) + caption;
  if (pugi::xml_attribute extension = element.attribute("extension"))
    name += std::string(".") + extension.value();
  else
    name += ::strncasecmp(type.c_str(), "XML", 3) == 0   ? ".xml"
            : ::strncasecmp(type.c_str(), "TXT", 3) == 0 ? ".txt"
                                                         : ".???";
  // The directory is put in front as written: it carries its own trailing separator.
  return GetAttrDef(element, "directory", "").ToString() + name;
}

bool TIntervalSaver::DoAction(TKelvo& subservice) {
  if (!Element()) return false;
  const TDateTime now = Now();
  const std::string caption = subservice.GetCaption();
  const std::string type = Type();
  CreateDirectory();
  const std::string path = FilePath(caption, now);

  const std::string counted = UpperCase(type);
  try {
    if (EqualsNoCase(type, "XML") || EqualsNoCase(type, "XMLWA")) {
      SaveXml(subservice, path, now, EqualsNoCase(type, "XML"));
    } else if (EqualsNoCase(type, "TXT") || EqualsNoCase(type, "TXTX")) {
      SaveText(subservice, path, now, EqualsNoCase(type, "TXT") ? "\r\n" : "");
    } else {
      if (DebugMode) WriteLog("[" + caption + "] Save to file error - unknown type");
      subservice.Status().CountSave(counted, false);
      return false;
    }
  } catch (...) {
    subservice.Status().CountSave(counted, false);
    throw;
  }
  subservice.Status().CountSave(counted, true);
  if (DebugMode) WriteLog("[" + caption + "] > Save to file \"" + path + "\" (" + caption + ")");
  return false;
}

void TIntervalSaver::CreateDirectory() const {
  std::string directory = GetAttrDef(Element(), "directory", "").ToString();
  std::error_code ignored;  // a directory that cannot be created shows in the file operation
  if (!directory.empty() && !std::filesystem::is_directory(directory, ignored))
    std::filesystem::create_directory(directory, ignored);
}

void TIntervalSaver::SaveText(TKelvo& subservice, const std::string& path, TDateTime now,
                              const char* lineEnd) {
  std::string templateText = GetCDataText(Element());
  std::string text =
      templateText.empty() ? DefaultLine(subservice, now) : ExpandTemplate(templateText, subservice, now);
  text += lineEnd;
  if (RewriteIsOne(Element()))
    ReplaceFile(path, text);
  else
    AppendToFile(path, text);
}

void TIntervalSaver::SaveXml(TKelvo& subservice, const std::string& path, TDateTime now,
                             bool withAttributes) {
  pugi::xml_document document;
  pugi::xml_node root;
  if (FileExists(path)) {
    std::string bytes;
    if (int error = ReadFileContent(path, bytes, MaxXmlFileSize)) FileError("Cannot read file", path, error);
    try {
      ParseXmlFile(bytes, document);
    } catch (const Exception& error) {
      throw Exception("Cannot load XML file \"" + path + "\": " + error.Message());
    }
    root = document.document_element();
  } else {
    root = document.append_child("Kelvo");
    AddField(root, "caption", subservice.GetCaption(), withAttributes);
    AddField(root, "date", FormatDateTime("tt", now), withAttributes);
  }
  pugi::xml_node data = root.append_child("data");
  AddField(data, "time", FormatDateTime("hh:nn", now), withAttributes);
  if (subservice.IsConnected()) {
    std::string value = FormatTemperature(subservice.Temperature());
    AddField(data, "value", value.substr(value.find_first_not_of(' ')), withAttributes);
  } else {
    AddField(data, "error", NotConnected, withAttributes);
  }
  ReplaceFile(path, SerializeXmlFile(document));
}

}  // namespace duz
