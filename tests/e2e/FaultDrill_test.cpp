// Fault drills on the real program in -debug mode, each a few seconds: a thermometer unplugged and
// plugged back, a storm of TCP connections, random bytes at full speed, kill -9 in the middle of
// saves, and a full disk. The first tick comes at once (DUZEZEVOVIVO_FIRST_TICK=0), so that saves
// and port reopening need not wait half a minute.
#include <gtest/gtest.h>
#include <sched.h>
#include <sys/mount.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <pugixml.hpp>
#include <random>
#include <thread>

#include "support/Env.h"
#include "support/LoopbackServer.h"
#include "support/Process.h"
#include "support/Pty.h"
#include "support/RegistryFile.h"
#include "support/TempDir.h"

namespace duz {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

size_t OpenFiles(int pid) {
  size_t count = 0;
  std::error_code error;
  for (fs::directory_iterator it("/proc/" + std::to_string(pid) + "/fd", error), end; !error && it != end;
       it.increment(error))
    ++count;
  return count;
}

// The sanitizers keep shadow memory beside what the program touches: ThreadSanitizer four words
// for each word, AddressSanitizer a byte for eight plus redzones and its quarantine (about twice
// what the normal build grows by). The normal build holds the sharp bound.
#if defined(__SANITIZE_THREAD__)
constexpr size_t ResidentGrowthBoundKiB = 4 * 32 * 1024;
#elif defined(__SANITIZE_ADDRESS__)
constexpr size_t ResidentGrowthBoundKiB = 2 * 32 * 1024;
#else
constexpr size_t ResidentGrowthBoundKiB = size_t{32} * 1024;
#endif

size_t ResidentKiB(int pid) {
  std::ifstream status("/proc/" + std::to_string(pid) + "/status");
  for (std::string line; std::getline(status, line);)
    if (line.starts_with("VmRSS:")) return std::stoul(line.substr(6));
  return 0;
}

size_t Count(const std::string& text, const std::string& part) {
  size_t count = 0;
  for (size_t at = 0; (at = text.find(part, at)) != std::string::npos; at += part.size()) ++count;
  return count;
}

class FaultDrillTest : public ::testing::Test {
 protected:
  FaultDrillTest() { fs::create_directories(FDir.File("work")); }
  ~FaultDrillTest() override { Stop(); }

  // Starts the program on one thermometer (COM1 on the device, caption Room) with the given
  // children and waits until the log says that the thermometer exists.
  void Start(const std::string& children, const std::string& device, const std::string& workDirectory = "") {
    Launch(children, device, workDirectory);
    ASSERT_TRUE(FProgram->WaitForOutput("[Room] Kelvo created", 10s))
        << FProgram->Stdout() << FProgram->Stderr();
  }

  void Launch(const std::string& children, const std::string& device, const std::string& workDirectory = "") {
    FDir.Write("config.xml",
               "<config><KELVO comport=\"1\" caption=\"Room\">" + children + "</KELVO></config>");
    test::WriteRegistryFile(FDir.File("registry.reg"), FDir.File("config.xml"), {{1, device}});
    // ASan keeps freed memory in quarantine; a small one lets the resident size show what the
    // program holds. Other builds ignore the variable.
    const char* asan = std::getenv("ASAN_OPTIONS");
    FProgram = std::make_unique<test::TChildProcess>(
        std::vector<std::string>{test::BinPath("duzezevovivo"), "-debug"},
        std::map<std::string, std::string>{
            {"DUZEZEVOVIVO_REGISTRY", FDir.File("registry.reg")},
            {"DUZEZEVOVIVO_EVENTLOG", FDir.File("events.log")},
            {"DUZEZEVOVIVO_SHUTDOWN_COMMAND", "true"},
            {"DUZEZEVOVIVO_FIRST_TICK", "0"},
            {"ASAN_OPTIONS", std::string(asan ? asan : "") + ":quarantine_size_mb=4"},
            {"DISPLAY", ""},
            {"WAYLAND_DISPLAY", ""}},
        workDirectory.empty() ? FDir.File("work") : workDirectory);
  }

  // The port of the thermometer's TCP server, as its log line says.
  int TcpPort() const {
    const std::string mark = "TcpServer created - port:";
    const std::string out = FProgram->Stdout();
    const size_t at = out.find(mark);
    return at == std::string::npos ? 0 : std::stoi(out.substr(at + mark.size()));
  }

  void Stop() {
    if (!FProgram) return;
    FProgram->Signal(SIGTERM);
    EXPECT_EQ(FProgram->Wait(20s), 0) << FProgram->Stderr();
    FProgram.reset();
  }

  test::TTempDir FDir;
  std::unique_ptr<test::TChildProcess> FProgram;
};

// Writes the thermometer line until a client receives it (published without the prefix).
bool Receives(int client, std::string& buffer, test::TPty& thermometer, const std::string& line,
              std::chrono::milliseconds timeout) {
  const auto deadline = Clock::now() + timeout;
  while (Clock::now() < deadline) {
    thermometer.Write("*B1E1" + line);
    for (auto received = test::ReadUntil(client, buffer, "\r", 100ms); received;
         received = test::ReadUntil(client, buffer, "\r", 0ms))
      if (*received == line) return true;
  }
  return false;
}

TEST_F(FaultDrillTest, UnpluggedThermometerSendsAgainWithin2SecondsOfComingBack) {
  auto first = std::make_unique<test::TPty>();
  const std::string device = FDir.File("ttyKelvo");
  fs::create_symlink(first->SlavePath(), device);
  Start("<DATAPUBLISHER type=\"TCPSERVER\" port=\"0\"/>", device);
  const int client = test::ConnectLoopback(TcpPort());
  std::string buffer;
  ASSERT_TRUE(Receives(client, buffer, *first, "+021.0C\r", 5s));

  first->HangUp();
  test::TPty second;
  fs::create_symlink(second.SlavePath(), device + ".new");
  fs::rename(device + ".new", device);
  const auto pluggedBack = Clock::now();
  EXPECT_TRUE(Receives(client, buffer, second, "+022.0C\r", 2s)) << "on the same connection";
  EXPECT_LE(Clock::now() - pluggedBack, 2s);
  close(client);
}

TEST_F(FaultDrillTest, StormOfShortAndIdleConnectionsCostsTheSteadyClientNoLine) {
  test::TPty thermometer;
  Start("<DATAPUBLISHER type=\"TCPSERVER\" port=\"0\"/>", thermometer.SlavePath());
  const int port = TcpPort();
  const int steady = test::ConnectLoopback(port);
  std::string received;
  ASSERT_TRUE(Receives(steady, received, thermometer, "+000.0C\r", 5s));
  received.clear();
  const size_t filesBefore = OpenFiles(FProgram->Pid());

  std::atomic<bool> storming{true};
  int sent = 0;
  std::thread feeder([&] {
    while (storming) {
      thermometer.Write("*B1E1+" + std::to_string(++sent) + ".0C\r");
      std::this_thread::sleep_for(2ms);
    }
  });
  std::vector<int> idle;
  int refused = 0;
  for (int i = 0; i < 200; ++i) {
    const int fd = test::ConnectLoopback(port);
    if (fd < 0)
      ++refused;
    else
      idle.push_back(fd);
  }
  for (int i = 0; i < 2000; ++i) {
    const int brief = test::ConnectLoopback(port);
    if (brief < 0) {
      ++refused;
      continue;
    }
    if (i % 2) {
      linger reset{1, 0};  // half of them end with a reset, as a crashed client does
      setsockopt(brief, SOL_SOCKET, SO_LINGER, &reset, sizeof reset);
    }
    close(brief);
  }
  storming = false;
  feeder.join();
  EXPECT_EQ(refused, 0) << "connections the service did not take";
  thermometer.Write("*B1E1+99999.0C\r");

  std::string stream;
  while (auto line = test::ReadUntil(steady, received, "\r", 10s)) {
    stream += *line;
    if (*line == "+99999.0C\r") break;
  }
  std::string expected;
  for (int i = 1; i <= sent; ++i) expected += "+" + std::to_string(i) + ".0C\r";
  EXPECT_EQ(stream, expected + "+99999.0C\r") << "every line, in order";

  for (int fd : idle) close(fd);
  EXPECT_TRUE(test::WaitUntil([&] { return OpenFiles(FProgram->Pid()) == filesBefore; }, 10s))
      << OpenFiles(FProgram->Pid()) << " open files, " << filesBefore << " before";
  close(steady);
}

TEST_F(FaultDrillTest, RandomBytesAtFullSpeedKeepMemoryBoundedAndLinesWorkAfterwards) {
  test::TPty thermometer;
  Start("<DATAPUBLISHER type=\"TCPSERVER\" port=\"0\"/>", thermometer.SlavePath());
  const int client = test::ConnectLoopback(TcpPort());
  std::string buffer;
  ASSERT_TRUE(Receives(client, buffer, thermometer, "+020.0C\r", 5s));
  close(client);  // a client that does not read would be dropped anyway
  const size_t before = ResidentKiB(FProgram->Pid());

  std::mt19937 random(13);
  std::string chunk(4096, '\0');
  size_t bytes = 0, peak = before;
  for (const auto end = Clock::now() + 5s; Clock::now() < end; bytes += chunk.size()) {
    for (char& c : chunk) c = static_cast<char>(random());
    thermometer.Write(chunk);
    if (bytes % (64 * chunk.size()) == 0) peak = std::max(peak, ResidentKiB(FProgram->Pid()));
  }
  peak = std::max(peak, ResidentKiB(FProgram->Pid()));
  RecordProperty("FloodBytes", std::to_string(bytes));
  RecordProperty("ResidentKiB", std::to_string(before) + " -> " + std::to_string(peak));
  // The log queue holds at most 8 MiB; without that bound this grew by about 12 MiB a second.
  EXPECT_LT(peak - before, ResidentGrowthBoundKiB) << bytes << " bytes sent";

  const int after = test::ConnectLoopback(TcpPort());
  buffer.clear();
  thermometer.Write("\r");  // ends what the random bytes left unfinished
  EXPECT_TRUE(Receives(after, buffer, thermometer, "+023.5C\r", 10s));
  close(after);
}

TEST_F(FaultDrillTest, KillDuringSavesLeavesEveryFileWholeAndNoBesideFileBehind) {
  constexpr int Files = 20;
  std::string saves, data;
  for (int i = 0; i < 1000; ++i) data += "<data time=\"12:00\" value=\"21.5\"></data>";
  for (int i = 0; i < Files; ++i) {
    const std::string name = "save" + std::to_string(i);
    saves += "<SAVE interval=\"0\" filename=\"" + name + "\" directory=\"" + FDir.File("data") + "/\"/>";
    fs::create_directories(FDir.File("data"));
    FDir.Write("data/" + name + ".xml",
               "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\r\n<Kelvo caption=\"Room\" date=\"x\">" + data +
                   "</Kelvo>\r\n");
  }
  auto everyFileParses = [&] {
    for (int i = 0; i < Files; ++i) {
      pugi::xml_document document;
      const std::string path = FDir.File("data/save" + std::to_string(i) + ".xml");
      if (!document.load_file(path.c_str()) || !document.child("Kelvo")) {
        ADD_FAILURE() << path << " does not parse";
        return false;
      }
    }
    return true;
  };
  // A save replaces its file: a new inode says that it is done. The log would come too late.
  auto inode = [&](int i) {
    struct stat status {};
    return ::stat(FDir.File("data/save" + std::to_string(i) + ".xml").c_str(), &status) == 0 ? status.st_ino
                                                                                             : 0;
  };
  test::TPty thermometer;
  std::mt19937 random(7);
  for (int round = 0; round < 20; ++round) {
    SCOPED_TRACE("round " + std::to_string(round));
    const ino_t before = inode(0);
    Launch(saves, thermometer.SlavePath());
    // The first file is saved; the others are being saved now.
    ASSERT_TRUE(test::WaitUntil([&] { return inode(0) != before; }, 10s));
    std::this_thread::sleep_for(std::chrono::milliseconds(random() % 30));
    FProgram->Signal(SIGKILL);
    FProgram->Wait(10s);
    FProgram.reset();
    ASSERT_TRUE(everyFileParses());
  }
  // A run that saves every file once more takes away what the killed runs left beside them.
  Start(saves, thermometer.SlavePath());
  ASSERT_TRUE(
      test::WaitUntil([&] { return Count(FProgram->Stdout(), "> Save to file") >= size_t{2} * Files; }, 20s));
  Stop();
  EXPECT_TRUE(everyFileParses());
  for (const auto& entry : fs::directory_iterator(FDir.File("data")))
    EXPECT_EQ(entry.path().extension(), ".xml") << entry.path() << " left behind";
}

// A small tmpfs in a mount namespace of this test and the program, so that nothing outlives them.
class FullDiskTest : public FaultDrillTest {
 protected:
  void SetUp() override {
    if (geteuid() != 0) GTEST_SKIP() << "mounting a small tmpfs needs root";
    if (unshare(CLONE_NEWNS) != 0 || mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0)
      GTEST_SKIP() << "no mount namespace here: " << std::strerror(errno);
    fs::create_directories(Disk());
    if (mount("tmpfs", Disk().c_str(), "tmpfs", 0, "size=512k") != 0)
      GTEST_SKIP() << "cannot mount a tmpfs: " << std::strerror(errno);
  }
  void TearDown() override {
    Stop();
    umount2(Disk().c_str(), MNT_DETACH);
  }
  std::string Disk() const { return FDir.File("disk"); }

  // Every line of every log file is whole (ended by its CR), every TXT line by CR LF, the XML
  // file parses; returns the log text.
  std::string CheckNothingTorn() const {
    std::string logs;
    for (const auto& entry : fs::directory_iterator(Disk())) {
      const std::string name = entry.path().filename(), text = test::ReadFile(entry.path());
      if (name.ends_with(".txt") && name != "readings.txt") {
        EXPECT_TRUE(text.empty() || text.ends_with("\r")) << name << " ends in half a line";
        logs += text;
      }
    }
    const std::string readings = test::ReadFile(Disk() + "/readings.txt");
    EXPECT_TRUE(readings.empty() || readings.ends_with("\r\n")) << "readings.txt ends in half a line";
    pugi::xml_document document;
    EXPECT_TRUE(document.load_file((Disk() + "/readings.xml").c_str())) << "readings.xml does not parse";
    return logs;
  }
};

TEST_F(FullDiskTest, FullDiskTearsNoFileAndLosesNoLogLineOnceSpaceIsBack) {
  test::TPty thermometer;
  const std::string where = " directory=\"" + Disk() + "/\" interval=\"0\"";
  Start("<SAVE type=\"XML\" filename=\"readings\"" + where + "/><SAVE type=\"TXT\" filename=\"readings\"" +
            where + "/>",
        thermometer.SlavePath(), Disk());
  ASSERT_TRUE(test::WaitUntil([&] { return fs::exists(Disk() + "/readings.xml"); }, 10s));

  {
    std::ofstream filler(Disk() + "/filler", std::ios::binary);
    const std::string block(4096, 'f');
    while (filler.write(block.data(), static_cast<std::streamsize>(block.size())) && filler.flush()) {
    }
  }
  constexpr int Readings = 40;
  for (int i = 1; i <= Readings; ++i) {
    thermometer.Write("*B1E1+" + std::to_string(i) + ".0C\r");
    std::this_thread::sleep_for(50ms);  // two seconds of failing saves and log writes
  }
  CheckNothingTorn();

  fs::remove(Disk() + "/filler");
  auto logged = [&](int i) { return "parse temperature: " + std::to_string(i) + ".00\r"; };
  EXPECT_TRUE(
      test::WaitUntil([&] { return CheckNothingTorn().find(logged(Readings)) != std::string::npos; }, 10s));
  const std::string logs = CheckNothingTorn();
  for (int i = 1; i <= Readings; ++i) EXPECT_EQ(Count(logs, logged(i)), 1u) << "reading " << i;
}

}  // namespace
}  // namespace duz
