#include "web/StatusJson.h"

#include <gtest/gtest.h>

#include "support/Env.h"

namespace duz {
namespace {

const TDateTime Today = EncodeDate(2026, 12, 7);

TEST(StatusJsonTest, EveryValueWithItsTypeAndNullForWhatIsNotKnown) {
  test::TScopedZone zone("XYZ-1");  // a rule, no zone file: UTC+1
  TPlatformSnapshot snapshot;
  snapshot.Time = Today + EncodeTime(14, 0, 5, 0);
  snapshot.ShutdownPending = true;
  TKelvoSnapshot& hall = snapshot.Thermometers.emplace_back();
  hall.Caption = "Hall \"A\"\\\x01";
  hall.ComPort = 2;
  hall.Temperature = 21.3f;
  hall.LastReading = Today + EncodeTime(14, 0, 0, 250);
  hall.Connected = true;
  hall.Conditions = {{stMax, 10, 30.5f, 60}, {}};
  hall.Lines = 5;
  hall.UnparsedLines = 1;
  TKelvoSnapshot& room = snapshot.Thermometers.emplace_back();
  room.Caption = "Ro\xc3\xb6m\xff\xc3";  // broken UTF-8 must not break the document
  room.ComPort = 1;

  EXPECT_EQ(
      RenderStatusJson(snapshot),
      R"({"time":"2026-12-07T14:00:05.000+01:00","shutdownPending":true,"thermometers":[)"
      R"({"caption":"Hall \"A\"\\\u0001","comport":2,"connected":true,"temperature":21.3,)"
      R"("lastReading":"2026-12-07T14:00:00.250+01:00","lines":5,"unparsedLines":1,"conditions":[)"
      R"({"state":"max","min":10,"max":30.5,"off":60},{"state":null,"min":null,"max":null,"off":null}]},)"
      R"({"caption":"Roöm__","comport":1,"connected":false,"temperature":null,"lastReading":null,"lines":0,)"
      R"("unparsedLines":0,"conditions":[]}]})"
      "\n");
}

TEST(StatusJsonTest, TimesWestOfGreenwichCarryANegativeOffset) {
  test::TScopedZone zone("XYZ3:30");  // UTC-3:30
  TPlatformSnapshot snapshot;
  snapshot.Time = Today;
  EXPECT_EQ(RenderStatusJson(snapshot),
            R"({"time":"2026-12-07T00:00:00.000-03:30","shutdownPending":false,"thermometers":[]})"
            "\n");
}

}  // namespace
}  // namespace duz
