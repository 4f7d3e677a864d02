#pragma once
// TIntervalPoster: an HTMLPOST element; at every run of its interval sends one HTTP GET of the URL
// that its CDATA template gives (the reading travels in the URL, inserted as formatted, without
// URL encoding). The reply is only logged in debug mode. Owned by its TKelvo; DoAction runs on the
// tick thread, expands the URL there and hands the GET to the platform's HTTP outbox.
#include "core/IntervalItem.h"

namespace duz {

class TIntervalPoster : public TIntervalItem {
 public:
  using TIntervalItem::TIntervalItem;

 protected:
  // No template: nothing is sent. True when a GET was handed on.
  bool DoAction(TKelvo& subservice) override;
};

}  // namespace duz
