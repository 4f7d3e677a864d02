#include "status/KelvoStatus.h"

#include "base/MutexLock.h"
#include "status/StatusBoard.h"

namespace duz {

TKelvoStatus::TKelvoStatus(std::shared_ptr<TStatusBoard> board, std::string caption, int comPort)
    : FBoard(std::move(board)) {
  FStatus.Caption = std::move(caption);
  FStatus.ComPort = comPort;
}

void TKelvoStatus::LineReceived(std::optional<float> value, TDateTime time, bool rejected) {
  {
    TMutexLock lock(FLock);
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
  NoteChange();
}

void TKelvoStatus::AddToHistory(TDateTime time, float value) {
  TMutexLock lock(FLock);
  FHistory.Add(time, value);
}

void TKelvoStatus::RestoreHistory(const std::vector<TMinutePoint>& points) {
  TMinuteHistory history;
  for (const TMinutePoint& point : points) history.Restore(point);
  TMutexLock lock(FLock);
  FHistory = history;
}

void TKelvoStatus::SetConnected(bool connected) {
  {
    TMutexLock lock(FLock);
    if (FStatus.Connected == connected) return;
    FStatus.Connected = connected;
  }
  NoteChange();
}

int TKelvoStatus::AddCondition() {
  TMutexLock lock(FLock);
  FStatus.Conditions.emplace_back();
  return static_cast<int>(FStatus.Conditions.size()) - 1;
}

void TKelvoStatus::SetConditionState(int index, TConditionState state) {
  {
    TMutexLock lock(FLock);
    TConditionStatus& condition = FStatus.Conditions.at(index);
    if (condition.State == state) return;
    condition.State = state;
  }
  NoteChange();
}

void TKelvoStatus::SetConditionLimits(int index, float min, float max, float off) {
  TMutexLock lock(FLock);
  TConditionStatus& condition = FStatus.Conditions.at(index);
  condition.Min = min;
  condition.Max = max;
  condition.Off = off;
}

void TKelvoStatus::CountEmail(bool sent) {
  {
    TMutexLock lock(FLock);
    ++(sent ? FStatus.Emails.Succeeded : FStatus.Emails.Failed);
  }
  NoteChange();
}

void TKelvoStatus::CountHttpGet(bool succeeded) {
  {
    TMutexLock lock(FLock);
    ++(succeeded ? FStatus.HttpGets.Succeeded : FStatus.HttpGets.Failed);
  }
  NoteChange();
}

void TKelvoStatus::CountSave(const std::string& type, bool succeeded) {
  {
    TMutexLock lock(FLock);
    TResultCounts& counts = FStatus.Saves[type];
    ++(succeeded ? counts.Succeeded : counts.Failed);
  }
  NoteChange();
}

void TKelvoStatus::AddTcpClients(int delta) {
  {
    TMutexLock lock(FLock);
    FStatus.TcpClients += delta;
  }
  NoteChange();
}

void TKelvoStatus::NoteChange() { FBoard->NoteChange(); }

TKelvoSnapshot TKelvoStatus::Copy() const {
  TMutexLock lock(FLock);
  return FStatus;
}

std::vector<TMinutePoint> TKelvoStatus::History(TDateTime now) const {
  TMinuteHistory copy;
  {
    TMutexLock lock(FLock);
    copy = FHistory;
  }
  return copy.Points(now);  // sorted outside the lock: the owner thread may be waiting for it
}

}  // namespace duz
