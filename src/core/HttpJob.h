#pragma once
// THttpJob: one GET of an HTTP poster on its way: the URL as expanded at the poster's due time and
// the caption of its log lines. It runs on the HTTP outbox's worker, once: the poster's next run is
// the next try. The thermometer's status counts it as succeeded when a body came back.
#include <memory>
#include <string>

#include "net/Outbox.h"
#include "status/KelvoStatus.h"

namespace duz {

class THttpJob : public TOutboxJob {
 public:
  // status may be empty (nothing is counted).
  THttpJob(std::string caption, std::string url, std::shared_ptr<TKelvoStatus> status);

  // Debug mode logs the URL and the reply, as the poster always has.
  std::optional<std::chrono::seconds> Attempt(const TEventLogger& events) override;
  std::string DroppedLine() const override;

 private:
  std::string FCaption;
  std::string FUrl;
  std::shared_ptr<TKelvoStatus> FStatus;
};

}  // namespace duz
