#include "log/SystemLogUtils.h"

#include <filesystem>
#include <system_error>

#include "base/EventLogger.h"
#include "base/Exception.h"

namespace duz {
namespace {

std::string ExecutableName() {
  std::error_code error;
  std::filesystem::path path = std::filesystem::read_symlink("/proc/self/exe", error);
  return error ? std::string("duzezevovivo") : path.filename().string();
}

}  // namespace

bool ReportSystemEvent(const std::string& text, uint32_t type, uint32_t category, int32_t eventId) {
  if (type > 0xFFFF) return false;
  try {
    return TEventLogger(ExecutableName()).LogEvent(text, type, category, eventId);
  } catch (const ERangeError&) {
    return false;
  }
}

}  // namespace duz
