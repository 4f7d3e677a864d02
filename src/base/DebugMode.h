#pragma once
// DebugMode: set once by the entry point when the switch DEBUG is given; every part tests it
// before writing its detail log lines.
#include <atomic>

namespace duz {

inline std::atomic<bool> DebugMode{false};

}  // namespace duz
