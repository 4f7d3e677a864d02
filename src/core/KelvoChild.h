#pragma once
// TKelvoChild: the base of everything a thermometer element lists (conditions, interval items,
// data publishers). Owned by its TKelvo; the subservice hands each child the events below and the
// child overrides those it cares for. A child reads its configuration from its own element, which
// a reload that keeps the thermometer moves to the equal element of the new configuration.
#include <pugixml.hpp>
#include <string>

#include "base/Component.h"

namespace duz {

class TKelvo;

class TKelvoChild : public TComponent {
 public:
  explicit TKelvoChild(TKelvo& subservice, pugi::xml_node element = {});

  TKelvo& Subservice() const { return FSubservice; }
  pugi::xml_node Element() const { return FElement; }

  // Owner thread: a parsed reading, except the first one after the subservice was created.
  virtual void Evaluate() {}
  // Owner thread: every received line, prefix removed, carriage return kept.
  virtual void Publish(const std::string& line) { (void)line; }
  // Tick thread, about once per second.
  virtual void Tick() {}
  // Owner thread, with the tick thread kept away (the platform's TickLock): the element from, in
  // which the child's element lies, gives way to to, an element of the same text in another
  // document, before from's document goes.
  virtual void MoveTo(pugi::xml_node from, pugi::xml_node to);

 private:
  TKelvo& FSubservice;
  pugi::xml_node FElement;
};

}  // namespace duz
