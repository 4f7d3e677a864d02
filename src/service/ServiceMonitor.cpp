#include "service/ServiceMonitor.h"

#include <fmt/format.h>

#include "base/FloatFormat.h"
#include "service/ServiceManager.h"

namespace duz {
namespace {

constexpr std::string_view Ellipsis = "…";

bool IsContinuationByte(char c) { return (static_cast<unsigned char>(c) & 0xC0) == 0x80; }

// Keeps the first MaxStatusChars characters (UTF-8), the last of them "…" when some had to go.
std::string CutToStatusLength(std::string line) {
  size_t characters = 0;
  for (size_t i = 0; i < line.size(); ++i) {
    if (IsContinuationByte(line[i])) continue;
    if (++characters == MaxStatusChars) {
      size_t end = i + 1;
      while (end < line.size() && IsContinuationByte(line[end])) ++end;
      if (end == line.size()) return line;
      line.resize(i);
      return line + std::string(Ellipsis);
    }
  }
  return line;
}

// A line break in a caption would end the status and start another assignment of the notification.
std::string PrintableCaption(std::string caption) {
  for (char& c : caption)
    if (static_cast<unsigned char>(c) < 0x20 || c == 0x7f) c = ' ';
  return caption;
}

std::string Describe(const TKelvoSnapshot& thermometer) {
  const std::string caption = PrintableCaption(thermometer.Caption);
  if (!thermometer.Connected || !thermometer.Temperature) return caption + " lost";
  std::string text = caption + " " + FormatFixed(*thermometer.Temperature, 0, 1) + " °C";
  const char* separator = " ";
  for (const TConditionStatus& condition : thermometer.Conditions) {
    if (condition.State == stNone) continue;
    text = text + separator + ConditionStateName(condition.State);
    separator = "/";
  }
  return text;
}

}  // namespace

std::string FormatStatusLine(const TPlatformSnapshot& snapshot) {
  const size_t count = snapshot.Thermometers.size();
  std::string line = fmt::format("{} thermometer{}", count, count == 1 ? "" : "s");
  for (size_t i = 0; i < count; ++i) line += (i == 0 ? ": " : "; ") + Describe(snapshot.Thermometers[i]);
  return CutToStatusLength(line);
}

TServiceMonitor::TServiceMonitor(std::function<bool()> alive,
                                 std::function<std::shared_ptr<const TStatusBoard>()> board)
    : FAlive(std::move(alive)), FBoard(std::move(board)) {
  if (const auto timeout = WatchdogTimeout()) FWatchdogPeriod = *timeout / 3;
}

// A watch that is not alive is asked again at every poll: once it recovers, the keep-alive goes at
// once.
void TServiceMonitor::Poll() {
  const auto now = std::chrono::steady_clock::now();
  if (FWatchdogPeriod && now >= FNextWatchdog && FAlive()) {
    NotifyServiceManager("WATCHDOG=1");
    FNextWatchdog = now + *FWatchdogPeriod;
  }
  const std::shared_ptr<const TStatusBoard> board = FBoard();
  if (!board) return;
  std::string status = FormatStatusLine(board->TakeSnapshot());
  if (status == FStatus) return;
  NotifyServiceManager("STATUS=" + status);
  FStatus = std::move(status);
}

}  // namespace duz
