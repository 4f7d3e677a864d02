#pragma once
// TIntervalPoster: an HTMLPOST element; at every run of its interval sends one HTTP GET of the URL
// that its CDATA template gives (the reading travels in the URL, inserted as formatted, without
// URL encoding). The reply is only logged in debug mode. Owned by its TKelvo; DoAction runs
// synchronously on the tick thread.
#include "core/IntervalItem.h"

namespace duz {

class TIntervalPoster : public TIntervalItem {
 public:
  using TIntervalItem::TIntervalItem;

 protected:
  // No template: nothing is sent. True when the reply is not empty.
  bool DoAction(TKelvo& subservice) override;
};

}  // namespace duz
