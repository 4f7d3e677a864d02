#include "core/HttpJob.h"

#include "base/Text.h"
#include "core/Kelvo.h"
#include "log/Logger.h"
#include "net/HttpGet.h"

namespace duz {

THttpJob::THttpJob(std::string caption, std::string url, std::shared_ptr<TKelvoStatus> status)
    : FCaption(std::move(caption)), FUrl(std::move(url)), FStatus(std::move(status)) {}

std::optional<std::chrono::seconds> THttpJob::Attempt(const TEventLogger&) {
  DebugLog(TKelvo::LogPrefixOf(FCaption), "HTTP GET - url: ", EscapeForLog(FUrl));
  const std::string reply = HttpGet(FUrl);
  // A reply that carries only a status is an error status or no answer at all.
  if (FStatus) FStatus->CountHttpGet(!reply.empty() && !reply.starts_with("Status:"));
  DebugLog(TKelvo::LogPrefixOf(FCaption), "HTTP GET - rcv: ", EscapeForLog(reply));
  return std::nullopt;
}

std::string THttpJob::DroppedLine() const {
  return TKelvo::LogPrefixOf(FCaption) + "HTTP GET - dropped: " + EscapeForLog(FUrl);
}

}  // namespace duz
