#include "core/DataPublisher.h"

namespace duz {

TDataPublisher::TDataPublisher(TKelvo& subservice, pugi::xml_node element)
    : TKelvoChild(subservice), FElement(element) {}

}  // namespace duz
