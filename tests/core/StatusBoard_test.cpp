#include "status/StatusBoard.h"

#include <unistd.h>

#include <future>

#include "ConditionFixture.h"
#include "core/DpTcpServer.h"
#include "support/LoopbackServer.h"

namespace duz {
namespace {

using namespace std::chrono_literals;

class StatusBoardTest : public test::TConditionFixture {
 protected:
  static const TKelvoSnapshot& Only(const TPlatformSnapshot& snapshot) {
    EXPECT_EQ(snapshot.Thermometers.size(), 1u);
    return snapshot.Thermometers.at(0);
  }

  TPlatformSnapshot TakeSnapshot(bool withHistory = false) const {
    return FPlatform->StatusBoard()->TakeSnapshot(withHistory);
  }

  static TdpTcpServer& ServerOf(TKelvo* kelvo) {
    for (int i = 0; i < kelvo->ComponentCount(); ++i)
      if (auto* server = dynamic_cast<TdpTcpServer*>(kelvo->Component(i))) return *server;
    throw std::logic_error("no TCP server");
  }
};

// Readings, limits, state changes, clients and saves all show; the snapshot never reaches into the
// subservice, so it stays valid after the subservice is gone, which then leaves the list.
TEST_F(StatusBoardTest, ShowsWhatTheThermometerAndItsChildrenDid) {
  TKelvo* kelvo = Make(
      "<CONDITION><min value=\"10\"/><max value=\"30.5\"/><off value=\"60\"/></CONDITION>"
      "<DATAPUBLISHER type=\"TCPSERVER\" port=\"0\"/>"
      "<SAVE type=\"txt\" interval=\"0\" directory=\"" +
      FDir.Path().string() +
      "/\"/>"
      "<SAVE type=\"XML\" interval=\"0\" directory=\"" +
      FDir.Path().string() + "/no/such/\"/>");
  TPlatformSnapshot snapshot = TakeSnapshot();
  EXPECT_EQ(Only(snapshot).Caption, "Room");
  EXPECT_EQ(Only(snapshot).ComPort, 1);
  EXPECT_EQ(Only(snapshot).Temperature, 20.0f);
  EXPECT_TRUE(Only(snapshot).Connected);
  EXPECT_FALSE(snapshot.ShutdownPending);

  Feed("+031.5C");
  Feed("ERR");
  const int client = test::ConnectLoopback(ServerOf(kelvo).Port());
  ASSERT_TRUE(FLoop.RunUntil([&] { return TakeSnapshot().Thermometers.at(0).TcpClients == 1; }, 3s));
  TestClock::Advance(16);  // the savers' first run is due 15 s after creation
  kelvo->Tick();

  snapshot = TakeSnapshot();
  const TKelvoSnapshot& status = Only(snapshot);
  EXPECT_EQ(status.Lines, 3u);
  EXPECT_EQ(status.UnparsedLines, 1u);
  EXPECT_EQ(status.Temperature, 31.5f) << "a line without a number keeps the last temperature";
  EXPECT_FALSE(status.Connected);
  ASSERT_EQ(status.Conditions.size(), 1u);
  EXPECT_EQ(status.Conditions[0].State, stError);
  EXPECT_EQ(status.Conditions[0].Max, 30.5f);
  EXPECT_EQ(status.Conditions[0].Off, 60.0f);
  EXPECT_EQ(status.Saves.at("TXT").Succeeded, 1u);
  EXPECT_EQ(status.Saves.at("XML").Failed, 1u);

  close(client);
  EXPECT_TRUE(FLoop.RunUntil([&] { return TakeSnapshot().Thermometers.at(0).TcpClients == 0; }, 3s));

  delete kelvo;
  EXPECT_TRUE(TakeSnapshot().Thermometers.empty());
  EXPECT_EQ(status.Caption, "Room");
}

TEST_F(StatusBoardTest, AReadingWakesAWaitingReader) {
  Make("");
  const uint64_t seen = TakeSnapshot().Sequence;
  const TStatusBoard& board = *FPlatform->StatusBoard();
  auto woken = std::async(std::launch::async, [&board, seen] { return board.WaitForChange(seen, 10s); });
  Feed("+021.0C");
  ASSERT_EQ(woken.wait_for(5s), std::future_status::ready);
  EXPECT_GT(woken.get(), seen);
  EXPECT_EQ(board.WaitForChange(TakeSnapshot().Sequence, 1ms), TakeSnapshot().Sequence)
      << "nothing changed: the wait ends at its time-out";
}

// A restart must not blank the chart: the history starts with today's file of the XML saver (the
// clock stands at 2026-12-07 14:00), then goes on with the readings; only a snapshot for the page
// copies it.
TEST_F(StatusBoardTest, HistoryStartsWithTodaysSavedFileAndGoesOnWithReadings) {
  FDir.Write("20261207Room.xml",
             "<Kelvo><caption>Room</caption><data><time>13:58</time><value>18.5</value></data>"
             "<data><time>13:59</time><value>19.5</value></data></Kelvo>");
  FDir.Write("20261206Room.xml", "<Kelvo><data><time>13:57</time><value>1.0</value></data></Kelvo>");
  Make("<SAVE type=\"TXT\" interval=\"60\" directory=\"" + FDir.Path().string() +
       "/\"/><SAVE type=\"xmlwa\" interval=\"60\" directory=\"" + FDir.Path().string() + "/\"/>");
  TestClock::Advance(60);
  Feed("+021.5C");

  EXPECT_TRUE(TakeSnapshot().Thermometers.at(0).History.empty());
  const std::vector<TMinutePoint> history = TakeSnapshot(true).Thermometers.at(0).History;
  std::vector<float> means;
  for (const TMinutePoint& point : history) means.push_back(point.Mean);
  EXPECT_EQ(means, (std::vector<float>{18.5f, 19.5f, 20.0f, 21.5f}));
  EXPECT_EQ(history.back().Time(), EncodeDate(2026, 12, 7) + EncodeTime(14, 1, 0, 0));
}

}  // namespace
}  // namespace duz
