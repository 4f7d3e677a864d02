#pragma once
// TKelvoStatus: what one thermometer shows to the outside (the metrics endpoint, the status page,
// the MQTT publisher, the service's status line): its identity, the last reading, the connection,
// the state and limits of each condition, and counters. The watch threads push into it as things
// happen; readers copy it out through its status board's TakeSnapshot (status/StatusBoard.h), so
// they never reach into a subservice or take a condition's lock.
// Made by a TStatusBoard (Add) and shared: its TKelvo holds it, and so may a job that reports its
// result after the subservice has gone (an e-mail finished by a worker). Every member function may
// be called from any thread; each holds FLock only for a copy or an increment. What a reader shows
// (a line, the connection, a state, a count) is marked as a change on the board for those that wait
// for one; the history, a new condition's slot and the limits are not, as they come with a reading
// or a state that is.
#include <cmath>
#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "base/DateTime.h"
#include "base/Mutex.h"
#include "status/ConditionState.h"
#include "status/MinuteHistory.h"

namespace duz {

struct TResultCounts {
  uint64_t Succeeded = 0;
  uint64_t Failed = 0;
};

struct TConditionStatus {
  TConditionState State = stNone;
  // The limits as the condition last read them; NaN before its first evaluation.
  float Min = NAN, Max = NAN, Off = NAN;
};

struct TKelvoSnapshot {
  std::string Caption;
  int ComPort = 0;
  std::optional<float> Temperature;      // empty until a line has held a number
  std::optional<TDateTime> LastReading;  // local time of the last line that held a number
  bool Connected = false;
  std::vector<TConditionStatus> Conditions;  // in document order
  uint64_t Lines = 0;                        // every line received
  uint64_t UnparsedLines = 0;                // lines without a number
  uint64_t RejectedReadings = 0;             // lines whose reading lay outside the valid range
  TResultCounts Emails;
  TResultCounts HttpGets;
  std::map<std::string, TResultCounts> Saves;  // by the SAVE type, upper case
  int TcpClients = 0;                          // over all TCP data servers of the thermometer
  // The last 24 hours by minute; only in a snapshot taken with the history (for the status page).
  std::vector<TMinutePoint> History;
};

class TStatusBoard;

class TKelvoStatus {
 public:
  TKelvoStatus(std::shared_ptr<TStatusBoard> board, std::string caption, int comPort);

  // A received line: value is its temperature, empty when it held no number or, rejected, one
  // outside the valid range. O(1): it runs on the owner thread for every line.
  void LineReceived(std::optional<float> value, TDateTime time, bool rejected = false);
  // A reading of an earlier run (a saved file), for the history only.
  void AddToHistory(TDateTime time, float value);
  // The history an earlier run or an earlier subservice left, instead of the one there is.
  void RestoreHistory(const std::vector<TMinutePoint>& points);
  void SetConnected(bool connected);
  // A new condition's slot; the index to report its state and limits with.
  int AddCondition();
  void SetConditionState(int index, TConditionState state);
  void SetConditionLimits(int index, float min, float max, float off);
  void CountEmail(bool sent);
  void CountHttpGet(bool succeeded);
  void CountSave(const std::string& type, bool succeeded);
  void AddTcpClients(int delta);

  // Without the history.
  TKelvoSnapshot Copy() const;
  // The minutes of the 24 hours up to now that hold readings, oldest first.
  std::vector<TMinutePoint> History(TDateTime now) const;

 private:
  void NoteChange();

  const std::shared_ptr<TStatusBoard> FBoard;
  mutable TMutex FLock;
  TKelvoSnapshot FStatus GUARDED_BY(FLock);
  TMinuteHistory FHistory GUARDED_BY(FLock);
};

}  // namespace duz
