#include "core/IntervalPoster.h"

#include <memory>

#include "base/Clock.h"
#include "config/XmlHelpers.h"
#include "core/HttpJob.h"
#include "core/Kelvo.h"
#include "core/KelvoPlatform.h"

namespace duz {

bool TIntervalPoster::DoAction(TKelvo& subservice) {
  std::string templateText = GetCDataText(Element());
  if (templateText.empty()) return false;
  subservice.Platform().HttpOutbox().Enqueue(std::make_unique<THttpJob>(
      subservice.GetCaption(), ExpandTemplate(templateText, subservice, Now()), subservice.SharedStatus()));
  return true;
}

}  // namespace duz
