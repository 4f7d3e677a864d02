#include "core/KelvoStatus.h"

#include "core/PlatformSnapshot.h"

namespace duz {

TKelvoStatus::TKelvoStatus(std::string caption, int comPort) {
  FStatus.Caption = std::move(caption);
  FStatus.ComPort = comPort;
}

void TKelvoStatus::LineReceived(std::optional<float> value, TDateTime time, bool rejected) {
  {
    std::lock_guard lock(FLock);
    ++FStatus.Lines;
    FStatus.Connected = value.has_value();
    if (value) {
      FStatus.Temperature = value;
      FStatus.LastReading = time;
      FHistory.Add(time, *value);
    } else {
      ++(rejected ? FStatus.RejectedReadings : FStatus.UnparsedLines);
    }
  }
  NoteStatusChange();
}

void TKelvoStatus::AddToHistory(TDateTime time, float value) {
  std::lock_guard lock(FLock);
  FHistory.Add(time, value);
}

void TKelvoStatus::SetConnected(bool connected) {
  {
    std::lock_guard lock(FLock);
    if (FStatus.Connected == connected) return;
    FStatus.Connected = connected;
  }
  NoteStatusChange();
}

int TKelvoStatus::AddCondition() {
  std::lock_guard lock(FLock);
  FStatus.Conditions.emplace_back();
  return static_cast<int>(FStatus.Conditions.size()) - 1;
}

void TKelvoStatus::SetConditionState(int index, TConditionState state) {
  {
    std::lock_guard lock(FLock);
    TConditionStatus& condition = FStatus.Conditions.at(index);
    if (condition.State == state) return;
    condition.State = state;
  }
  NoteStatusChange();
}

void TKelvoStatus::SetConditionLimits(int index, float min, float max, float off) {
  std::lock_guard lock(FLock);
  TConditionStatus& condition = FStatus.Conditions.at(index);
  condition.Min = min;
  condition.Max = max;
  condition.Off = off;
}

void TKelvoStatus::CountEmail(bool sent) {
  {
    std::lock_guard lock(FLock);
    ++(sent ? FStatus.Emails.Succeeded : FStatus.Emails.Failed);
  }
  NoteStatusChange();
}

void TKelvoStatus::CountPost(bool succeeded) {
  {
    std::lock_guard lock(FLock);
    ++(succeeded ? FStatus.Posts.Succeeded : FStatus.Posts.Failed);
  }
  NoteStatusChange();
}

void TKelvoStatus::CountSave(const std::string& type, bool succeeded) {
  {
    std::lock_guard lock(FLock);
    TResultCounts& counts = FStatus.Saves[type];
    ++(succeeded ? counts.Succeeded : counts.Failed);
  }
  NoteStatusChange();
}

void TKelvoStatus::AddTcpClients(int delta) {
  {
    std::lock_guard lock(FLock);
    FStatus.TcpClients += delta;
  }
  NoteStatusChange();
}

TThermometerStatus TKelvoStatus::Copy() const {
  std::lock_guard lock(FLock);
  return FStatus;
}

std::vector<TMinutePoint> TKelvoStatus::History(TDateTime now) const {
  TMinuteHistory copy;
  {
    std::lock_guard lock(FLock);
    copy = FHistory;
  }
  return copy.Points(now);  // sorted outside the lock: the owner thread may be waiting for it
}

}  // namespace duz
