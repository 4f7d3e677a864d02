#include "core/KelvoChild.h"

#include "config/XmlHelpers.h"
#include "core/Kelvo.h"

namespace duz {

TKelvoChild::TKelvoChild(TKelvo& subservice, pugi::xml_node element)
    : TComponent(&subservice), FSubservice(subservice), FElement(element) {}

void TKelvoChild::MoveTo(pugi::xml_node from, pugi::xml_node to) {
  FElement = Counterpart(FElement, from, to);
}

}  // namespace duz
