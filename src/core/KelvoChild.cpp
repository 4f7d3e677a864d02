#include "core/KelvoChild.h"

#include "core/Kelvo.h"

namespace duz {

TKelvoChild::TKelvoChild(TKelvo& subservice) : TComponent(&subservice), FSubservice(subservice) {}

}  // namespace duz
