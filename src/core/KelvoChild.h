#pragma once
// TKelvoChild: the base of everything a thermometer element lists (conditions, interval items,
// data publishers). Owned by its TKelvo; the subservice hands each child the events below and the
// child overrides those it cares for.
#include <string>

#include "base/Component.h"

namespace duz {

class TKelvo;

class TKelvoChild : public TComponent {
 public:
  explicit TKelvoChild(TKelvo& subservice);

  TKelvo& Subservice() const { return FSubservice; }

  // Owner thread: a parsed reading, except the first one after the subservice was created.
  virtual void Evaluate() {}
  // Owner thread: every received line, prefix removed, carriage return kept.
  virtual void Publish(const std::string& line) { (void)line; }
  // Tick thread, about once per second.
  virtual void Tick() {}

 private:
  TKelvo& FSubservice;
};

}  // namespace duz
