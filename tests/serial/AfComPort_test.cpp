#include "serial/AfComPort.h"

#include <gtest/gtest.h>
#include <sys/resource.h>

#include <filesystem>
#include <map>
#include <memory>
#include <thread>

#include "base/EventLoop.h"
#include "support/Env.h"
#include "support/Pty.h"
#include "support/TempDir.h"

namespace duz {
namespace {

using namespace std::chrono_literals;
using test::TPty;

// A loop on the test thread, a pseudo-terminal on COM3 and the mapping of COM numbers to devices
// that the ports are made with; a number it does not name is a device that does not exist.
class AfComPortTest : public ::testing::Test {
 protected:
  void SetUp() override { Map({{3, FPty.SlavePath()}}); }

  void Map(const std::map<int, std::string>& devices) { FDevices = devices; }

  std::unique_ptr<TAfComPort> NewPort(uint16_t number) {
    auto port = std::make_unique<TAfComPort>(nullptr, [this](int n) {
      const auto device = FDevices.find(n);
      return device != FDevices.end() ? device->second : FDir.File("missing");
    });
    port->SetComNumber(number);
    return port;
  }

  // Counts the deliveries and collects what the handler read.
  void Collect(TAfComPort& port) {
    port.OnDataRecived = [this](TAfComPort& sender, size_t count) {
      ++FDeliveries;
      EXPECT_GT(count, 0u);
      EXPECT_TRUE(FLoop.IsLoopThread());
      FReceived += sender.ReadAvailable();
    };
  }

  std::unique_ptr<TAfComPort> OpenCollecting(uint16_t number = 3) {
    auto port = NewPort(number);
    Collect(*port);
    port->Open();
    return port;
  }

  bool RunUntilReceived(size_t size) {
    return FLoop.RunUntil([&] { return FReceived.size() >= size; }, 5s);
  }

  static std::string ReadFromDevice(TPty& pty, size_t size) {
    std::string data;
    while (data.size() < size) {
      std::string piece = pty.Read(2s);
      if (piece.empty()) break;
      data += piece;
    }
    return data;
  }

  static void ExpectOpenError(TAfComPort& port, const std::string& message) {
    try {
      port.Open();
      ADD_FAILURE() << "Open succeeded";
    } catch (const EAfComPortCoreError& error) {
      EXPECT_EQ(error.Message(), message);
    }
    EXPECT_FALSE(port.IsOpen());
  }

  test::TTempDir FDir;
  std::map<int, std::string> FDevices;
  TEventLoop FLoop;
  TPty FPty;
  int FDeliveries = 0;
  std::string FReceived;
};

TEST_F(AfComPortTest, InputIsDeliveredOnTheLoopThread) {
  auto port = OpenCollecting();
  FPty.Write("*B1E1+023.5C\r");
  EXPECT_TRUE(RunUntilReceived(13));
  EXPECT_EQ(FReceived, "*B1E1+023.5C\r");
  FPty.Write("+024.0C\r");
  EXPECT_TRUE(RunUntilReceived(21));
  EXPECT_EQ(FReceived, "*B1E1+023.5C\r+024.0C\r");
}

TEST_F(AfComPortTest, InputArrivingWhileTheLoopIsBusyComesAsOneDelivery) {
  auto port = OpenCollecting();
  // The loop does not run while the pieces arrive.
  FPty.Write("+02");
  std::this_thread::sleep_for(50ms);
  FPty.Write("3.5C\r");
  std::this_thread::sleep_for(50ms);
  EXPECT_TRUE(RunUntilReceived(8));
  FLoop.RunUntil([] { return false; }, 300ms);  // room for a surplus delivery to show up
  EXPECT_EQ(FReceived, "+023.5C\r");
  EXPECT_EQ(FDeliveries, 1);
}

TEST_F(AfComPortTest, UnreadInputIsAnnouncedAgainAfterAFailingHandler) {
  auto port = NewPort(3);
  port->OnDataRecived = [this](TAfComPort& sender, size_t) {
    if (++FDeliveries == 1) throw Exception("handler failed");
    FReceived += sender.ReadAvailable();
  };
  port->Open();
  FPty.Write("+001.0C\r");
  EXPECT_TRUE(RunUntilReceived(8));
  EXPECT_EQ(FReceived, "+001.0C\r");
  EXPECT_EQ(FDeliveries, 2);
}

TEST_F(AfComPortTest, UnreadInputIsAnnouncedEvery200msWithoutSpinning) {
  auto port = NewPort(3);
  port->OnDataRecived = [this](TAfComPort&, size_t) { ++FDeliveries; };  // never reads
  port->Open();
  FPty.Write("+001.0C\r");
  auto cpuMicroseconds = [] {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return (usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) * 1000000L + usage.ru_utime.tv_usec +
           usage.ru_stime.tv_usec;
  };
  long before = cpuMicroseconds();
  FLoop.RunUntil([] { return false; }, 1000ms);
  EXPECT_LT(cpuMicroseconds() - before, 500000L) << "a thread spins on the unread input";
  EXPECT_GE(FDeliveries, 3);
  EXPECT_LE(FDeliveries, 7);
}

TEST_F(AfComPortTest, OpenFailuresNameThePort) {
  struct TCase {
    const char* Label;
    uint16_t Number;
    uint32_t Baud;
    std::string Message;
  };
  FDir.Write("plain-file", "");
  std::filesystem::create_directory(FDir.File("folder"));
  Map({{3, FPty.SlavePath()},
       {4, FDir.File("folder")},
       {5, FDir.File("plain-file")},
       {7, FDir.File("missing")}});
  const TCase cases[] = {
      {"port number 0", 0, 9600, "Invalid port number (COM0)"},
      {"missing device", 7, 9600, "Invalid port number (COM7)"},
      {"directory", 4, 9600, "Can't open device COM4"},
      {"not a terminal", 5, 9600, "Can't open device COM5"},
      {"speed the line cannot take", 3, 14400, "Error setting parameters from DCB"},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.Label);
    auto port = NewPort(c.Number);
    port->SetBaudRate(c.Baud);
    ExpectOpenError(*port, c.Message);
  }
  // The failed open with the bad speed left the device free.
  EXPECT_NO_THROW(NewPort(3)->Open());
}

TEST_F(AfComPortTest, DeviceIsHeldExclusivelyUntilClosed) {
  auto first = NewPort(3);
  auto second = NewPort(3);
  first->Open();
  first->Open();  // a second Open of an open port changes nothing
  EXPECT_TRUE(first->IsOpen());
  ExpectOpenError(*second, "Can't open device COM3");
  first->Close();
  EXPECT_FALSE(first->IsOpen());
  first->Close();
  second->Open();
  EXPECT_TRUE(second->IsOpen());
}

TEST_F(AfComPortTest, WrittenBytesReachTheDevice) {
  auto port = NewPort(3);
  port->Open();
  port->WriteString("hello\r");
  EXPECT_EQ(ReadFromDevice(FPty, 6), "hello\r");
  // Blocks that make the ring wrap arrive complete. The writer frees the room only after the device
  // took the bytes, so a block may have to wait for the one before.
  for (char fill : {'a', 'b', 'c'}) {
    std::string block(1500, fill);
    EXPECT_TRUE(test::WaitUntil(
        [&] {
          try {
            port->WriteString(block);
            return true;
          } catch (const EAfComPortError&) {
            return false;
          }
        },
        2s));
    EXPECT_EQ(ReadFromDevice(FPty, block.size()), block);
  }
}

TEST_F(AfComPortTest, OversizedWriteRaisesAndQueuesNothing) {
  auto port = NewPort(3);
  port->Open();
  try {
    port->WriteString(std::string(2049, 'x'));
    ADD_FAILURE() << "no write error";
  } catch (const EAfComPortError& error) {
    EXPECT_EQ(error.Message(), "Write data error [requested: 2049, free: 2048] -  ");
  }
  port->WriteString("");
  port->WriteString("ok");
  EXPECT_EQ(ReadFromDevice(FPty, 2), "ok");
}

TEST_F(AfComPortTest, HangUpClosesThePortAndStopsNotifications) {
  auto port = OpenCollecting();
  FPty.HangUp();
  EXPECT_TRUE(FLoop.RunUntil([&] { return !port->IsOpen(); }, 5s));
  EXPECT_EQ(FDeliveries, 0);
  EXPECT_EQ(port->ReadAvailable(), "");
}

TEST_F(AfComPortTest, PortReopensWhenTheDeviceComesBack) {
  std::string link = FDir.File("thermometer");
  Map({{3, link}});
  auto pty = std::make_unique<TPty>();
  std::filesystem::create_symlink(pty->SlavePath(), link);
  auto port = OpenCollecting();
  pty->HangUp();
  ASSERT_TRUE(FLoop.RunUntil([&] { return !port->IsOpen(); }, 5s));
  EXPECT_THROW(port->Open(), EAfComPortCoreError);

  pty = std::make_unique<TPty>();
  std::filesystem::remove(link);
  std::filesystem::create_symlink(pty->SlavePath(), link);
  port->Open();
  pty->Write("+019.0C\r");
  EXPECT_TRUE(RunUntilReceived(8));
  EXPECT_EQ(FReceived, "+019.0C\r");
}

TEST_F(AfComPortTest, NewComNumberOnAnOpenPortMovesItToTheNewDevice) {
  TPty second;
  Map({{3, FPty.SlavePath()}, {4, second.SlavePath()}});
  auto port = NewPort(3);
  port->Open();
  port->SetComNumber(4);
  EXPECT_TRUE(port->IsOpen());
  port->WriteString("x");
  EXPECT_EQ(ReadFromDevice(second, 1), "x");
  EXPECT_NO_THROW(NewPort(3)->Open());  // the old device was let go
}

TEST_F(AfComPortTest, NotificationQueuedForADestroyedPortIsIgnored) {
  auto port = OpenCollecting();
  FPty.Write("+020.0C\r");
  std::this_thread::sleep_for(100ms);  // the event thread queues its notification meanwhile
  port.reset();
  FLoop.RunUntil([] { return false; }, 300ms);
  EXPECT_EQ(FDeliveries, 0);
}

TEST(AfComPortLoopTest, PortNeedsAnEventLoopOnItsThread) {
  std::thread([] {
    EXPECT_THROW(TAfComPort port(nullptr, [](int) { return std::string(); }), EAfComPortCoreError);
  }).join();
}

}  // namespace
}  // namespace duz
