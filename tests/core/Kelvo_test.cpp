#include "core/Kelvo.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <memory>

#include "base/Exception.h"
#include "core/KelvoChild.h"
#include "support/EventLogFile.h"
#include "support/LogCapture.h"
#include "support/ThermometerRig.h"

namespace duz {
namespace {

using namespace std::chrono_literals;
using test::TPty;

// Records what the subservice hands its children.
class TRecorder : public TKelvoChild {
 public:
  using TKelvoChild::TKelvoChild;
  void Evaluate() override { Evaluated.push_back(Subservice().Temperature()); }
  void Publish(const std::string& line) override { Published.push_back(line); }
  void Tick() override { ++Ticks; }
  std::vector<float> Evaluated;
  std::vector<std::string> Published;
  int Ticks = 0;
};

class KelvoTest : public ::testing::Test, protected test::TThermometerRig {
 protected:
  KelvoTest() { CreatePlatform(false); }

  TKelvo* Make(const std::string& xml) { return new TKelvo(*FPlatform, Parse(xml)); }

  TRecorder* Attach(TKelvo* kelvo) { return new TRecorder(*kelvo); }

  bool Deliver(TRecorder* recorder, const std::string& bytes, size_t expectedLines) {
    FPty.Write(bytes);
    return FLoop.RunUntil([&] { return recorder->Published.size() >= expectedLines; }, 3000ms);
  }
};

TEST_F(KelvoTest, LinesSplitAcrossDeliveriesAndSeveralInOneAreHandledInOrder) {
  TKelvo* kelvo = Make(R"(<Kelvo comport="1"/>)");
  TRecorder* recorder = Attach(kelvo);
  ASSERT_TRUE(Deliver(recorder, "*B1E1+021.0C\r*B1E1+022.", 1));
  EXPECT_FLOAT_EQ(kelvo->Temperature(), 21.0f);
  ASSERT_TRUE(Deliver(recorder, "5C\r-003.1C\r", 3));
  EXPECT_EQ(recorder->Published, (std::vector<std::string>{"+021.0C\r", "+022.5C\r", "-003.1C\r"}));
  EXPECT_EQ(recorder->Evaluated, (std::vector<float>{22.5f, -3.1f})) << "the first line is not evaluated";
  EXPECT_TRUE(kelvo->IsConnected());
}

// A child whose evaluation fails at one temperature, as a limit that is not a number does.
class TFailingRecorder : public TRecorder {
 public:
  using TRecorder::TRecorder;
  void Evaluate() override {
    if (Subservice().Temperature() == 2.0f) throw Exception("'x' is not a valid floating point value");
    TRecorder::Evaluate();
  }
};

TEST_F(KelvoTest, FailingEvaluationOfOneChildKeepsTheLineFromNoOther) {
  TKelvo* kelvo = Make(R"(<Kelvo comport="1"/>)");
  auto* failing = new TFailingRecorder(*kelvo);
  TRecorder* after = Attach(kelvo);
  ASSERT_TRUE(Deliver(after, "+1.0C\r+2.0C\r+3.0C\r", 3));
  EXPECT_EQ(failing->Published, (std::vector<std::string>{"+1.0C\r", "+2.0C\r", "+3.0C\r"}));
  EXPECT_EQ(after->Published, failing->Published);
  EXPECT_EQ(after->Evaluated, (std::vector<float>{2.0f, 3.0f}));
}

TEST_F(KelvoTest, LineWithoutNumberDisconnectsButKeepsTheLastTemperature) {
  TKelvo* kelvo = Make(R"(<Kelvo comport="1"/>)");
  TRecorder* recorder = Attach(kelvo);
  ASSERT_TRUE(Deliver(recorder, "+024.0C\rERR\r", 2));
  EXPECT_FALSE(kelvo->IsConnected());
  EXPECT_FLOAT_EQ(kelvo->Temperature(), 24.0f);
  EXPECT_EQ(recorder->Evaluated.size(), 1u) << "a line without a number is still evaluated";
}

TEST_F(KelvoTest, LoneCarriageReturnDoesNotStallTheFollowingLines) {
  TKelvo* kelvo = Make(R"(<Kelvo comport="1"/>)");
  TRecorder* recorder = Attach(kelvo);
  ASSERT_TRUE(Deliver(recorder, "\r+020.0C\r", 2));
  EXPECT_TRUE(kelvo->IsConnected());
  EXPECT_FLOAT_EQ(kelvo->Temperature(), 20.0f);
}

TEST_F(KelvoTest, BytesWithoutLineEndAreBoundedAndDiscarded) {
  TKelvo* kelvo = Make(R"(<Kelvo comport="1"/>)");
  TRecorder* recorder = Attach(kelvo);
  FPty.Write(std::string(TKelvoLineSplitter::MaxRxBuffer + 100, '7'));
  FLoop.RunUntil([] { return false; }, 300ms);
  ASSERT_TRUE(Deliver(recorder, "+001.5C\r", 1));
  EXPECT_EQ(recorder->Published.back(), "+001.5C\r");
  EXPECT_FLOAT_EQ(kelvo->Temperature(), 1.5f);
}

TEST_F(KelvoTest, TwentySilentTicksDisconnectUntilALineConvertsAgain) {
  TKelvo* kelvo = Make(R"(<Kelvo comport="1"/>)");
  TRecorder* recorder = Attach(kelvo);
  ASSERT_TRUE(Deliver(recorder, "+020.0C\r", 1));
  for (int i = 0; i < 19; ++i) kelvo->Tick();
  EXPECT_TRUE(kelvo->IsConnected());
  kelvo->Tick();
  EXPECT_FALSE(kelvo->IsConnected());
  EXPECT_EQ(recorder->Ticks, 20);
  FPty.Write("+02");  // bytes without a complete line do not reconnect
  FLoop.RunUntil([] { return false; }, 300ms);
  EXPECT_FALSE(kelvo->IsConnected());
  ASSERT_TRUE(Deliver(recorder, "0.0C\r", 2));
  EXPECT_TRUE(kelvo->IsConnected());
}

TEST_F(KelvoTest, ConstructionErrors) {
  EXPECT_THROW(
      try { Make(R"(<Kelvo/>)"); } catch (const Exception& e) {
        EXPECT_STREQ(e.what(), "Number of ComPort is not set!");
        throw;
      },
      Exception);
  EXPECT_THROW(Make(R"(<Kelvo comport="0"/>)"), Exception);
  EXPECT_THROW(Make(R"(<Kelvo comport="one"/>)"), EConvertError);
  EXPECT_THROW(
      try { Make(R"(<Kelvo comport="65537"/>)"); } catch (const ERangeError& e) {
        EXPECT_STREQ(e.what(), "comport 65537 is out of range (1 to 65535)");  // not COM1
        throw;
      },
      ERangeError);
  EXPECT_THROW(Make(R"(<Kelvo comport="-1"/>)"), ERangeError);
  EXPECT_EQ(FPlatform->ComponentCount(), 0) << "a failed subservice is destroyed";
}

TEST_F(KelvoTest, PortThatCannotBeOpenedIsReportedAndTheSubserviceStays) {
  TKelvo* kelvo = Make(R"(<Kelvo comport="9" caption=""/>)");
  EXPECT_EQ(kelvo->GetCaption(), "Kelvo_on_COM9");
  EXPECT_NE(test::ReadFile(FDir.File("events.log")).find("Error: Invalid port number (COM9)"),
            std::string::npos);
  kelvo->SendToPort("x");  // a closed port swallows it
}

TEST_F(KelvoTest, DeviceThatDisappearsIsReopenedOnTheTickAndBothAreReported) {
  std::string link = FDir.File("com1");
  std::filesystem::create_symlink(FPty.SlavePath(), link);
  WriteRegistry(link);
  test::TLogCapture log;
  TKelvo* kelvo = Make(R"(<Kelvo comport="1" caption="Room"/>)");
  TRecorder* recorder = Attach(kelvo);
  ASSERT_TRUE(Deliver(recorder, "+020.0C\r", 1));

  auto replacement = std::make_unique<TPty>();
  FPty.HangUp();
  FLoop.RunUntil([] { return false; }, 500ms);  // the port notices the hang-up and closes
  std::filesystem::remove(link);
  std::filesystem::create_symlink(replacement->SlavePath(), link);
  kelvo->Tick();
  replacement->Write("+030.0C\r");
  ASSERT_TRUE(FLoop.RunUntil([&] { return recorder->Published.size() >= 2; }, 3000ms));
  EXPECT_FLOAT_EQ(kelvo->Temperature(), 30.0f);
  kelvo->SendToPort("hello");
  EXPECT_EQ(replacement->Read(2000ms), "hello");
  kelvo->Tick();  // the port is open: nothing more to report
  const std::vector<std::string> reports{"[Room] port closed: hang-up", "[Room] port opened again"};
  EXPECT_EQ(test::EventTexts(test::ReadEventLog(FDir.File("events.log")), "Deredoru"), reports);
  EXPECT_EQ(log.Lines("] port "), reports);
}

}  // namespace
}  // namespace duz
