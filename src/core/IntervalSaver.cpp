#include "core/IntervalSaver.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <string_view>
#include <utility>

#include "base/Clock.h"
#include "base/EventLogger.h"
#include "base/Exception.h"
#include "base/FileWrite.h"
#include "base/FloatFormat.h"
#include "base/FormatDateTime.h"
#include "base/Text.h"
#include "base/Variant.h"
#include "config/XmlHelpers.h"
#include "core/Kelvo.h"
#include "core/KelvoPlatform.h"
#include "log/Logger.h"
#include "xml/XmlFileReader.h"
#include "xml/XmlFileWriter.h"

namespace duz {
namespace {

constexpr const char* NotConnected = "Kelvo not connected";

// Something else holds the name (a planted link, a FIFO): worth the operator's notice.
class ERefusedFile : public Exception {
  using Exception::Exception;
};

[[noreturn]] void FileError(const char* what, const std::string& path, int error) {
  std::string message = std::string(what) + " \"" + path + "\". " + FileErrorText(error);
  if (error == ELOOP || error == ENotRegularFile) throw ERefusedFile(message);
  throw Exception(message);
}

void AppendToFile(const std::string& path, std::string_view bytes) {
  int fd = OpenRegularFile(path, O_WRONLY | O_CREAT | O_APPEND);
  if (fd < 0) FileError("Cannot open file", path, errno);
  const off_t start = AppendStart(fd);
  bool written = WriteAll(fd, bytes);
  if (!written) UndoAppend(fd, start);  // a full disk must not leave half a line
  int error = errno;
  ::close(fd);
  if (!written) FileError("Cannot write file", path, error);
}

// Written beside the file, flushed to disk and renamed over it: a crash, a power loss or a full
// disk in the middle of a save leaves the old file whole, never a truncated one.
void ReplaceFile(const std::string& path, std::string_view bytes) {
  if (int error = ReplaceFileContent(path, bytes)) FileError("Cannot write file", path, error);
}

std::string ReadFile(const std::string& path) {
  std::string bytes;
  if (const int error = ReadRegularFile(path, bytes, TIntervalSaver::MaxXmlFileSize))
    FileError("Cannot open file", path, error);
  return bytes;
}

// Also true for a symbolic link, which the save then refuses instead of starting a new file.
bool FileExists(const std::string& path) {
  struct stat info {};
  return ::lstat(path.c_str(), &info) == 0;
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
    name += StartsWithNoCase(type, "XML") ? ".xml" : StartsWithNoCase(type, "TXT") ? ".txt" : ".???";
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
      DebugLog(TKelvo::LogPrefixOf(caption), "Save to file error - unknown type");
      subservice.Status().CountSave(counted, false);
      return false;
    }
  } catch (const ERefusedFile& error) {
    // Once until a save succeeds again: a link left in place must not fill the journal every minute.
    if (!std::exchange(FRefusalReported, true))
      subservice.Platform().LogEvent(error.what(), EVENTLOG_WARNING_TYPE, 0, 0);
    subservice.Status().CountSave(counted, false);
    throw;
  } catch (...) {
    subservice.Status().CountSave(counted, false);
    throw;
  }
  FRefusalReported = false;
  subservice.Status().CountSave(counted, true);
  DebugLog(TKelvo::LogPrefixOf(caption), "> Save to file \"", path, "\" (", caption, ")");
  return false;
}

void TIntervalSaver::CreateDirectory() const {
  std::string directory = GetAttrDef(Element(), "directory", "").ToString();
  std::error_code ignored;  // a directory that cannot be created shows in the file operation
  if (!directory.empty() && !std::filesystem::is_directory(directory, ignored))
    ::mkdir(directory.c_str(), NewDirectoryMode);
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
    const std::string bytes = ReadFile(path);
    try {
      ParseXmlFile(bytes, document);
      root = document.document_element();
    } catch (const Exception& error) {
      // A damaged file would fail every later save; it is kept aside and a new one begins.
      const std::string aside = SetAside(path);
      if (aside.empty()) FileError("Cannot rename file", path, errno);
      subservice.Platform().LogEvent("Cannot load XML file \"" + path + "\": " + error.Message() +
                                         "; it was renamed to \"" + aside + "\"",
                                     EVENTLOG_WARNING_TYPE, 0, 0);
      document.reset();
    }
  }
  if (!root) {
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
