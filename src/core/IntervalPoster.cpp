#include "core/IntervalPoster.h"

#include <fmt/format.h>

#include "base/Clock.h"
#include "base/DebugMode.h"
#include "core/Kelvo.h"
#include "log/Logger.h"
#include "net/HttpGet.h"
#include "xml/XmlHelpers.h"

namespace duz {
namespace {

// A request line cannot carry blanks, control or non-ASCII bytes, and %VALUE% brings a leading
// blank: such bytes travel as %XX. Everything else goes as the template made it.
std::string RequestUrl(const std::string& url) {
  std::string result;
  for (unsigned char c : url) {
    if (c <= ' ' || c >= 0x7F)
      result += fmt::format("%{:02X}", c);
    else
      result += static_cast<char>(c);
  }
  return result;
}

}  // namespace

bool TIntervalPoster::DoAction(TKelvo& subservice) {
  std::string templateText = GetCDataText(Element());
  if (templateText.empty()) return false;
  std::string url = ExpandTemplate(templateText, subservice, Now());
  if (DebugMode) WriteLog("[" + subservice.GetCaption() + "] HTTP GET - url: " + EscapeForLog(url));
  std::string reply = HttpGet(RequestUrl(url));
  if (DebugMode) WriteLog("[" + subservice.GetCaption() + "] HTTP GET - rcv: " + EscapeForLog(reply));
  return !reply.empty();
}

}  // namespace duz
