#pragma once
// TKelvo: one thermometer subservice: the serial port of one thermometer element and the children
// the element lists. Owned by the platform. The port's data arrives on the owner thread
// (PortDataReceived): a TKelvoLineSplitter cuts the bytes into lines, ParseKelvoLine takes the
// temperature out of each, the element's offset corrects it (or its valid range rejects it), and
// the line is handed to the children. The tick thread calls Tick about
// once per second and counts the silent ticks. FTemperature and FLineState are shared by both
// threads (atomics); the fields marked so are used by the owner thread only; IsConnected, Temperature
// and GetCaption may be called from any thread.
#include <atomic>
#include <cstdint>
#include <memory>
#include <optional>
#include <pugixml.hpp>
#include <string>
#include <vector>

#include "base/Component.h"
#include "config/ConfigValues.h"
#include "core/KelvoLineSplitter.h"
#include "core/WatchState.h"
#include "status/KelvoStatus.h"

namespace duz {

class TAfComPort;
class TKelvoPlatform;

class TKelvo : public TComponent {
 public:
  // Raises "Number of ComPort is not set!" for a missing or zero comport, the error of a comport
  // that is not a number from 1 to 65535, and whatever a child raises. A port that cannot be opened
  // is reported and retried on the tick; one that is lost and opened again is reported both times.
  TKelvo(TKelvoPlatform& owner, pugi::xml_node element);
  ~TKelvo() override;

  void Tick();
  // Connected while the last line held a number and bytes came within the last 20 ticks. Once the
  // 20th silent tick has passed, it stays false until a line converts again, even if bytes without
  // a complete line arrive meanwhile. A query: the tick does the counting.
  bool IsConnected() const;
  std::string GetCaption() const;
  float Temperature() const { return FTemperature; }
  pugi::xml_node Element() const { return FElement; }
  TKelvoPlatform& Platform() const { return FPlatform; }
  // Any thread: writes to the port if it is open; a write error of the port propagates.
  void SendToPort(const std::string& text);
  // Owner thread, with the tick thread kept away (the platform's TickLock): the subservice and its
  // children move to to, an element of the same text as theirs in a newly loaded configuration.
  void MoveTo(pugi::xml_node to);
  // What a later run or a reload keeps of it: the state of each condition, and withHistory the
  // history. On the owner thread or with the tick thread kept away.
  TSavedThermometer Saved(bool withHistory) const;
  // Owner thread, right after the creation: from the saved thermometer of the same COM port and
  // caption, conditions of an unchanged element resume their state, and the history is the saved one.
  void Restore(const TWatchState& saved);
  // What the thermometer shows to the outside; the children report into it.
  TKelvoStatus& Status() const { return *FStatus; }
  // For a job that reports its result after the subservice may have gone.
  std::shared_ptr<TKelvoStatus> SharedStatus() const { return FStatus; }

  // Silent ticks after which the thermometer counts as not connected.
  static constexpr uint32_t MaxNoDataTicks = 20;

  // The caption attribute of a KELVO element, or "Kelvo_on_COM" and the port number when it is
  // empty; for those that read the element without making a subservice too.
  static std::string CaptionOf(pugi::xml_node element, uint16_t comNumber);
  // "[caption] ": how each log line of a thermometer, its children and their jobs begins.
  static std::string LogPrefixOf(const std::string& caption) { return "[" + caption + "] "; }
  std::string LogPrefix() const { return LogPrefixOf(GetCaption()); }

 private:
  void PortDataReceived();
  void PortLost(const std::string& reason);
  void HandleLine(const std::string& line);
  // The reading corrected by the offset; nothing when that lies outside the valid range.
  std::optional<float> Corrected(float reading) const;
  void CountSilentTick();
  void CreateChild(pugi::xml_node child);
  void SeedHistory();

  TKelvoPlatform& FPlatform;
  bool FFirstLine = true;  // owner thread only
  TAfComPort* FPort = nullptr;
  pugi::xml_node FElement;
  TKelvoLineSplitter FSplitter;  // owner thread only
  std::shared_ptr<TKelvoStatus> FStatus;
  TReadingCorrection FCorrection;  // set at creation
  std::atomic<float> FTemperature{0};
  // Whether the last line held a number (bit 0) and the silent ticks since the last bytes (the
  // rest, counted up to MaxNoDataTicks) in one word: the tick's count and a line that arrives at
  // the same time cannot undo each other.
  std::atomic<uint32_t> FLineState{0};
  std::atomic<bool> FPortLost{false};  // set on the owner thread, cleared by the tick's reopen
};

// The factory that the platform uses to create thermometer subservices.
void CreateKelvo(TKelvoPlatform& owner, pugi::xml_node element);

}  // namespace duz
