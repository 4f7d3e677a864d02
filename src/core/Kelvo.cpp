#include "core/Kelvo.h"

#include <algorithm>

#include "base/Clock.h"
#include "base/DebugMode.h"
#include "base/EventLogger.h"
#include "base/Exception.h"
#include "base/FileWrite.h"
#include "base/FloatFormat.h"
#include "base/RegionalSettings.h"
#include "base/Text.h"
#include "config/ComDevicePath.h"
#include "config/ConfigRules.h"
#include "config/ConfigValues.h"
#include "config/XmlHelpers.h"
#include "core/Condition.h"
#include "core/DpTcpServer.h"
#include "core/IntervalPoster.h"
#include "core/IntervalSaver.h"
#include "core/KelvoChild.h"
#include "core/KelvoLine.h"
#include "core/KelvoPlatform.h"
#include "log/Logger.h"
#include "serial/AfComPort.h"
#include "status/StatusBoard.h"
#include "xml/SavedReadings.h"
#include "xml/XmlFileReader.h"

namespace duz {

TKelvo::TKelvo(TKelvoPlatform& owner, pugi::xml_node element)
    : TComponent(&owner), FPlatform(owner), FElement(element) {
  DebugLog("Kelvo create");
  FPort = new TAfComPort(this, ComDevicePath);
  FPort->OnDataRecived = [this](TAfComPort&, size_t) { PortDataReceived(); };
  FPort->OnPortLost = [this](TAfComPort&, const std::string& reason) { PortLost(reason); };
  const uint16_t comNumber = ComPortNumber(element);
  if (comNumber == 0) throw Exception("Number of ComPort is not set!");
  FPort->SetComNumber(comNumber);
  FCorrection = ReadingCorrection(element);
  FPort->SetBaudRate(9600);
  FStatus = owner.StatusBoard()->Add(GetCaption(), FPort->ComNumber());
  try {
    FPort->Open();
  } catch (const std::exception& error) {
    DebugLog(LogPrefix(), "! Exception - ", error.what());
    FPlatform.LogEvent(std::string("Error: ") + error.what(), EVENTLOG_ERROR_TYPE, 0, 0);
  }
  for (pugi::xml_node child : element.children())
    if (child.type() == pugi::node_element) CreateChild(child);
  SeedHistory();
  DebugLog(LogPrefix(), "Kelvo created");
}

TKelvo::~TKelvo() {
  if (FStatus) FPlatform.StatusBoard()->Remove(*FStatus);
  if (FPort) {
    FPort->Close();
    delete FPort;
    FPort = nullptr;
  }
}

void TKelvo::CreateChild(pugi::xml_node child) {
  const std::string_view name = ElementRuleName(child, "KELVO");
  if (name == "CONDITION") new TCondition(*this, child);
  if (name == "SAVE") new TIntervalSaver(*this, child);
  if (name == "HTMLPOST") new TIntervalPoster(*this, child);
  if (name == "DATAPUBLISHER" && UpperCase(GetAttrDef(child, "type", "").ToString()) == "TCPSERVER")
    new TdpTcpServer(*this, child);
}

// A restart must not blank the history: it starts with today's file of the first XML saver that
// has one. A file that cannot be read only leaves the history empty; it is read as the saver reads
// it, so a link planted at its name is not followed and a huge file is not loaded.
void TKelvo::SeedHistory() {
  const TDateTime now = Now();
  for (int i = 0; i < ComponentCount(); ++i) {
    const auto* saver = dynamic_cast<const TIntervalSaver*>(Component(i));
    if (!saver) continue;
    const std::string type = UpperCase(saver->Type());
    if (type != "XML" && type != "XMLWA") continue;
    const std::string path = saver->FilePath(GetCaption(), now);
    const auto notRead = [&](const std::string& reason) {
      DebugLog(LogPrefix(), "History not read from \"", path, "\": ", reason);
    };
    std::string bytes;
    if (const int error = ReadRegularFile(path, bytes, TIntervalSaver::MaxXmlFileSize)) {
      if (error == ENOENT) continue;
      return notRead(FileErrorText(error));
    }
    pugi::xml_document document;
    try {
      ParseXmlFile(bytes, document);
    } catch (const Exception& error) {
      return notRead(error.Message());
    }
    const TSavedReadings saved = ReadSavedReadings(document.document_element(), now);
    for (const TSavedReading& reading : saved.Readings) FStatus->AddToHistory(reading.Time, reading.Value);
    DebugLog(LogPrefix(), "History read from \"", path, "\": ", std::to_string(saved.Readings.size()),
             " readings",
             (saved.NotFinite
                  ? ", " + std::to_string(saved.NotFinite) + " values that are no finite number skipped"
                  : ""));
    return;
  }
}

namespace {

constexpr uint32_t LineHeldNumber = 1;
constexpr uint32_t OneTick = 2;

}  // namespace

void TKelvo::PortDataReceived() {
  FLineState &= LineHeldNumber;  // bytes came: no silent ticks
  const std::string chunk = FPort->ReadAvailable();
  if (DebugMode) WriteLog(LogPrefix() + "rcv data: " + EscapeForLog(chunk));
  if (const size_t discarded = FSplitter.Append(chunk); discarded && DebugMode)
    WriteLog(LogPrefix() + "receive buffer overflow, " + std::to_string(discarded) +
             " bytes without a line end discarded");
  // A handler that raises ends this delivery; the lines after it wait for the next one.
  while (std::optional<std::string> line = FSplitter.NextLine()) HandleLine(*line);
}

void TKelvo::HandleLine(const std::string& line) {
  TKelvoReading reading = ParseKelvoLine(line, RegionalSettings().DecimalSeparator);
  bool rejected = false;
  if (reading.Value) {
    reading.Value = Corrected(*reading.Value);
    rejected = !reading.Value;
  }
  // A line without a number keeps the last good temperature. The temperature goes first, so that a
  // reader that sees the line's number connected sees its temperature too.
  if (reading.Value) {
    FTemperature = *reading.Value;
    FLineState |= LineHeldNumber;
  } else {
    FLineState &= ~LineHeldNumber;
  }
  FStatus->LineReceived(reading.Value, Now(), rejected);
  DebugLog(LogPrefix(), "parse temperature: ", FormatFixed(FTemperature, 2, 2));
  if (!FFirstLine)
    for (int i = 0; i < ComponentCount(); ++i)
      if (auto* child = dynamic_cast<TKelvoChild*>(Component(i))) {
        try {
          child->Evaluate();
        } catch (const std::exception& error) {
          // One child's failure must not keep the line from the others and from the TCP clients.
          DebugLog(LogPrefix(), "! Exception - ", error.what());
        }
      }
  for (int i = 0; i < ComponentCount(); ++i)
    if (auto* child = dynamic_cast<TKelvoChild*>(Component(i))) child->Publish(reading.RawLine);
  FFirstLine = false;
}

std::optional<float> TKelvo::Corrected(float reading) const {
  // In decimal, so that 23.4 corrected by 1.5 is 24.9 and not a float next to it.
  const float value =
      FCorrection.Offset == 0 ? reading : static_cast<float>(DecimalValue(reading) + FCorrection.Offset);
  const bool low = FCorrection.ValidMin && value < *FCorrection.ValidMin;
  const bool high = FCorrection.ValidMax && value > *FCorrection.ValidMax;
  if (!low && !high) return value;
  DebugLog(LogPrefix(), "reading ", FormatFixed(value, 2, 2),
           (low ? " is below validmin " + FormatFixed(*FCorrection.ValidMin, 2, 2)
                : " is above validmax " + FormatFixed(*FCorrection.ValidMax, 2, 2)),
           ": rejected");
  return std::nullopt;
}

void TKelvo::PortLost(const std::string& reason) {
  FPortLost = true;
  const std::string text = LogPrefix() + "port closed: " + reason;
  DebugLog(text);
  FPlatform.LogEvent(text, EVENTLOG_WARNING_TYPE, 0, 0);
}

void TKelvo::Tick() {
  if (!FPort->IsOpen()) {
    try {
      FPort->Open();
      if (FPortLost.exchange(false)) {
        const std::string text = LogPrefix() + "port opened again";
        DebugLog(text);
        FPlatform.LogEvent(text, EVENTLOG_INFORMATION_TYPE, 0, 0);
      }
    } catch (const std::exception&) {
      // Retried silently on every tick until the device is back.
    }
  }
  for (int i = 0; i < ComponentCount(); ++i)
    if (auto* child = dynamic_cast<TKelvoChild*>(Component(i))) child->Tick();
  CountSilentTick();
  FStatus->SetConnected(IsConnected());
}

void TKelvo::CountSilentTick() {
  uint32_t state = FLineState.load();
  uint32_t next;
  do {
    const uint32_t ticks = std::min(state / OneTick + 1, MaxNoDataTicks);
    // The 20th silent tick forgets the last line's number: only a new line connects again.
    next = ticks * OneTick | (ticks < MaxNoDataTicks ? state & LineHeldNumber : 0);
  } while (!FLineState.compare_exchange_weak(state, next));
}

bool TKelvo::IsConnected() const {
  const uint32_t state = FLineState.load();
  return (state & LineHeldNumber) != 0 && state / OneTick < MaxNoDataTicks;
}

std::string TKelvo::GetCaption() const { return CaptionOf(FElement, FPort ? FPort->ComNumber() : 0); }

std::string TKelvo::CaptionOf(pugi::xml_node element, uint16_t comNumber) {
  std::string caption = element.attribute("caption").value();
  if (caption.empty()) caption = "Kelvo_on_COM" + std::to_string(comNumber);
  return caption;
}

void TKelvo::SendToPort(const std::string& text) {
  if (FPort && FPort->IsOpen()) FPort->WriteString(text);
}

void TKelvo::MoveTo(pugi::xml_node to) {
  for (int i = 0; i < ComponentCount(); ++i)
    if (auto* child = dynamic_cast<TKelvoChild*>(Component(i))) child->MoveTo(FElement, to);
  FElement = to;
}

TSavedThermometer TKelvo::Saved(bool withHistory) const {
  TSavedThermometer saved{FPort->ComNumber(), GetCaption(), {}, {}};
  if (withHistory) saved.History = FStatus->History(Now());
  for (int i = 0; i < ComponentCount(); ++i)
    if (const auto* condition = dynamic_cast<const TCondition*>(Component(i)))
      saved.Conditions.push_back(condition->Saved());
  return saved;
}

// Each saved condition resumes in the first condition of the same element that has none yet.
void TKelvo::Restore(const TWatchState& state) {
  const TSavedThermometer* found = state.Find(FPort->ComNumber(), GetCaption());
  if (!found) return;
  const TSavedThermometer& saved = *found;
  std::vector<bool> taken(saved.Conditions.size());
  for (int i = 0; i < ComponentCount(); ++i) {
    auto* condition = dynamic_cast<TCondition*>(Component(i));
    if (!condition) continue;
    for (size_t c = 0; c < saved.Conditions.size(); ++c)
      if (!taken[c] && saved.Conditions[c].Fingerprint == condition->Fingerprint()) {
        condition->Restore(saved.Conditions[c]);
        taken[c] = true;
        break;
      }
  }
  if (!saved.History.empty()) FStatus->RestoreHistory(saved.History);
}

void CreateKelvo(TKelvoPlatform& owner, pugi::xml_node element) { new TKelvo(owner, element); }

}  // namespace duz
