#pragma once
// TWatchState: what the watch keeps across a restart of the program and a reload of its
// configuration: per thermometer the state of each condition and the minute history, the armed
// shutdowns, and the e-mails and webhook alarms not yet sent. The platform takes it from its objects
// and hands it to those it makes again; TStateFile keeps it on disk as WriteWatchState writes it.
// Values. WriteWatchState and ReadWatchState are pure; WallMsOf and MonotonicOf read the clocks.
#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "base/Clock.h"
#include "core/MailJob.h"
#include "core/WebhookJob.h"
#include "status/ConditionState.h"
#include "status/MinuteHistory.h"

namespace duz {

// Milliseconds since 1970-01-01 UTC: how a time crosses from one run of the program to the next.
using TWallMs = int64_t;
TWallMs WallMsOf(TMonotonicTime time);
TMonotonicTime MonotonicOf(TWallMs time);

// Of a CONDITION element's text: a condition whose element changed starts afresh.
uint64_t ConditionFingerprint(std::string_view elementXml);

struct TSavedCondition {
  uint64_t Fingerprint = 0;
  TConditionState State = stNone;
  TConditionState ElementState = stNone;          // whose message the repeats send
  std::vector<std::optional<TWallMs>> LastFired;  // per action item, in document order
};

struct TSavedThermometer {
  int ComPort = 0;
  std::string Caption;
  std::vector<TSavedCondition> Conditions;  // in document order
  std::vector<TMinutePoint> History;        // oldest first
};

struct TSavedShutdown {
  TWallMs Due = 0;
  std::chrono::milliseconds Period{0};
};

struct TWatchState {
  std::string BootId;  // of the boot whose run armed the shutdowns
  std::vector<TSavedThermometer> Thermometers;
  std::vector<TSavedShutdown> Shutdowns;
  std::vector<TSavedMail> Mails;
  std::vector<TSavedWebhook> Webhooks;

  // The thermometer of that COM port and caption, or nullptr.
  const TSavedThermometer* Find(int comPort, const std::string& caption) const;
  TSavedThermometer* Find(int comPort, const std::string& caption) {
    return const_cast<TSavedThermometer*>(std::as_const(*this).Find(comPort, caption));
  }
};

// An XML document; numbers in the C locale, so that another regional setting reads it the same.
std::string WriteWatchState(const TWatchState& state);
// Raises Exception with the reason for a text that is not such a document, or holds a value out of
// its range.
TWatchState ReadWatchState(std::string_view text);

}  // namespace duz
