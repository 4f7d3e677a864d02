#pragma once
// A platform view that only counts the views alive. A platform's views live exactly as long as the
// platform, so the count tells whether a platform exists.
#include <atomic>
#include <memory>

#include "status/PlatformView.h"

namespace duz::test {

class TCountedView : public TPlatformView {
 public:
  explicit TCountedView(std::atomic<int>& views) : FViews(views) { ++FViews; }
  ~TCountedView() override { --FViews; }

 private:
  std::atomic<int>& FViews;
};

// Views that count themselves in views, which must outlive them.
inline TPlatformViewFactories CountedViews(std::atomic<int>& views) {
  return {[&views](const pugi::xml_document&, TStatusBoard&, const TEventLogger&) {
    return std::make_unique<TCountedView>(views);
  }};
}

}  // namespace duz::test
