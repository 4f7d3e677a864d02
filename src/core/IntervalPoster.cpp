#include "core/IntervalPoster.h"

#include "base/Clock.h"
#include "base/DebugMode.h"
#include "core/Kelvo.h"
#include "log/Logger.h"
#include "net/HttpGet.h"
#include "xml/XmlHelpers.h"

namespace duz {

bool TIntervalPoster::DoAction(TKelvo& subservice) {
  std::string templateText = GetCDataText(Element());
  if (templateText.empty()) return false;
  std::string url = ExpandTemplate(templateText, subservice, Now());
  if (DebugMode) WriteLog("[" + subservice.GetCaption() + "] HTTP GET - url: " + EscapeForLog(url));
  std::string reply = HttpGet(url);
  // A reply that carries only a status is an error status or no answer at all.
  subservice.Status().CountPost(!reply.empty() && !reply.starts_with("Status:"));
  if (DebugMode) WriteLog("[" + subservice.GetCaption() + "] HTTP GET - rcv: " + EscapeForLog(reply));
  return !reply.empty();
}

}  // namespace duz
