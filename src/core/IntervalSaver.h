#pragma once
// TIntervalSaver: a SAVE element; at every run of its interval appends the current reading of its
// thermometer to a file: "TXT" (a line ended by CR LF), "TXTX" (the template's text as it is),
// "XML" (data elements with attributes) or "XMLWA" (data elements with child elements). All
// attributes are read again at every run, so the default name (date + caption) moves to a new file
// at midnight. Owned by its TKelvo; DoAction runs on the tick thread.
#include <cstddef>
#include <string>

#include "core/IntervalItem.h"

namespace duz {

class TIntervalSaver : public TIntervalItem {
 public:
  // A day of readings every minute is about 100 KiB; a file this large is not one of ours.
  static constexpr size_t MaxXmlFileSize = size_t{64} * 1024 * 1024;

  using TIntervalItem::TIntervalItem;

  // `type` as written; "XML" when it is missing or empty.
  std::string Type() const;
  // The file a run at now writes to: `directory` as written, then `filename` or the date and the
  // caption, then `extension` or the one of the type. Creates nothing.
  std::string FilePath(const std::string& caption, TDateTime now) const;

 protected:
  // Raises on a file that cannot be written; the file is then left as it was. A name held by a
  // symbolic link or by no regular file is also an event-log warning, once until a save succeeds
  // again. An existing XML file that is not well-formed is set aside with a warning and a new one
  // begun. Always false.
  bool DoAction(TKelvo& subservice) override;

 private:
  // `directory`, created (one level) when it does not exist yet.
  void CreateDirectory() const;
  void SaveText(TKelvo& subservice, const std::string& path, TDateTime now, const char* lineEnd);
  void SaveXml(TKelvo& subservice, const std::string& path, TDateTime now, bool withAttributes);

  bool FRefusalReported = false;  // tick thread only
};

}  // namespace duz
