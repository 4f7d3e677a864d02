#pragma once
// TDataPublisher: the base of the objects that pass every thermometer line on to the outside world
// as it arrives. Owned by its TKelvo; Publish runs on the owner thread for every received line.
#include <pugixml.hpp>
#include <string>

#include "core/KelvoChild.h"

namespace duz {

class TDataPublisher : public TKelvoChild {
 public:
  using TKelvoChild::TKelvoChild;

  void Publish(const std::string& line) override = 0;
};

}  // namespace duz
