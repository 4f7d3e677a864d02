// The -debug window of the real binary on a virtual X display, watching a pseudo-terminal
// thermometer: found by its caption, measured, photographed (build/artifacts/debug-window.png) and
// ended by SIGTERM. Where no window can be shown, the terminal view instead.
#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

#include <array>
#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <regex>
#include <sstream>

#include "support/Env.h"
#include "support/Process.h"
#include "support/Pty.h"
#include "support/RegistryFile.h"
#include "support/TempDir.h"

namespace duz {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

constexpr const char* Caption = "DuzezEvovivo - debug mode";

std::string FindOnPath(const std::string& program) {
  std::istringstream path(std::getenv("PATH") ? std::getenv("PATH") : "");
  for (std::string dir; std::getline(path, dir, ':');)
    if (!dir.empty() && access((dir + "/" + program).c_str(), X_OK) == 0) return dir + "/" + program;
  return "";
}

// An X server of its own: Xvfb picks a free display number and reports it once it accepts clients.
// Without -noreset it resets whenever its last client leaves, and a client connecting meanwhile fails.
class TVirtualDisplay {
 public:
  explicit TVirtualDisplay(const std::string& xvfb)
      : FServer({xvfb, "-displayfd", "1", "-screen", "0", "1280x1024x24", "-nolisten", "tcp", "-noreset"}) {
    test::WaitUntil([&] { return FServer.Stdout().find('\n') != std::string::npos; }, 10s);
    const std::string number = FServer.Stdout();
    if (number.find('\n') != std::string::npos) FName = ":" + number.substr(0, number.find('\n'));
  }
  ~TVirtualDisplay() {
    FServer.Signal(SIGTERM);
    FServer.Wait(5s);
  }
  const std::string& Name() const { return FName; }  // "" when the server did not come up
  std::string Log() const { return FServer.Stderr(); }

  // stdout of an X client run on this display.
  std::string Run(std::vector<std::string> argv) const {
    argv[0] = FindOnPath(argv[0]);
    test::TChildProcess client(argv, {{"DISPLAY", FName}});
    client.Wait(10s);
    return client.Stdout();
  }

 private:
  test::TChildProcess FServer;
  std::string FName;
};

struct TWindowInfo {
  std::string Id;
  int Width = 0, Height = 0;
};

// The viewable window with this caption; an empty Id when there is none.
TWindowInfo FindWindow(const TVirtualDisplay& display, const std::string& caption) {
  const std::string info = display.Run({"xwininfo", "-name", caption});
  std::smatch id, width, height;
  TWindowInfo window;
  if (std::regex_search(info, id, std::regex(R"(Window id: (0x[0-9a-f]+))")) &&
      std::regex_search(info, width, std::regex(R"(\n\s*Width: (\d+))")) &&
      std::regex_search(info, height, std::regex(R"(\n\s*Height: (\d+))")) &&
      info.find("IsViewable") != std::string::npos)
    window = {id[1], std::stoi(width[1]), std::stoi(height[1])};
  return window;
}

// A 24-bit X window dump (ZPixmap, 32 bits per pixel, masks 0xff0000/0xff00/0xff) as RGB rows.
struct TImage {
  int Width = 0, Height = 0;
  std::vector<uint8_t> Rgb;
  std::array<uint8_t, 3> Pixel(int x, int y) const {
    const uint8_t* p = &Rgb[(static_cast<size_t>(y) * Width + x) * 3];
    return {p[0], p[1], p[2]};
  }
};

TImage ReadXwd(const std::string& bytes) {
  auto field = [&](int index) {
    const auto* p = reinterpret_cast<const uint8_t*>(bytes.data()) + static_cast<size_t>(index) * 4;
    return static_cast<uint32_t>(p[0] << 24 | p[1] << 16 | p[2] << 8 | p[3]);
  };
  TImage image;
  if (bytes.size() < 100 || field(2) != 2 || field(11) != 32) return image;  // ZPixmap, 32 bpp
  const uint32_t headerSize = field(0), bytesPerLine = field(12), colours = field(19);
  const bool msbFirst = field(7) != 0;
  const size_t pixels = headerSize + colours * 12;
  image.Width = static_cast<int>(field(4));
  image.Height = static_cast<int>(field(5));
  if (bytes.size() < pixels + static_cast<size_t>(bytesPerLine) * image.Height) return TImage();
  for (int y = 0; y < image.Height; ++y)
    for (int x = 0; x < image.Width; ++x) {
      const auto* p = reinterpret_cast<const uint8_t*>(bytes.data()) + pixels +
                      static_cast<size_t>(y) * bytesPerLine + static_cast<size_t>(x) * 4;
      if (msbFirst)
        image.Rgb.insert(image.Rgb.end(), {p[1], p[2], p[3]});
      else
        image.Rgb.insert(image.Rgb.end(), {p[2], p[1], p[0]});
    }
  return image;
}

// PNG with stored (uncompressed) deflate blocks: no image library needed for an artifact.
std::string EncodePng(const TImage& image) {
  auto be32 = [](std::string& out, uint32_t value) {
    for (int shift = 24; shift >= 0; shift -= 8) out += static_cast<char>(value >> shift);
  };
  auto chunk = [&](std::string& out, const std::string& type, const std::string& data) {
    be32(out, static_cast<uint32_t>(data.size()));
    uint32_t crc = 0xffffffff;
    for (unsigned char c : type + data) {
      crc ^= c;
      for (int bit = 0; bit < 8; ++bit) crc = crc >> 1 ^ (0xedb88320 & -(crc & 1));
    }
    out += type + data;
    be32(out, ~crc);
  };
  std::string raw;
  for (int y = 0; y < image.Height; ++y) {
    raw += '\0';  // filter: none
    raw.append(reinterpret_cast<const char*>(&image.Rgb[static_cast<size_t>(y) * image.Width * 3]),
               static_cast<size_t>(image.Width) * 3);
  }
  std::string zlib = "\x78\x01";
  uint32_t a = 1, b = 0;
  for (unsigned char c : raw) {
    a = (a + c) % 65521;
    b = (b + a) % 65521;
  }
  for (size_t at = 0; at < raw.size(); at += 65535) {
    const uint16_t length = static_cast<uint16_t>(std::min<size_t>(65535, raw.size() - at));
    zlib += static_cast<char>(at + length == raw.size());
    zlib += {static_cast<char>(length), static_cast<char>(length >> 8), static_cast<char>(~length),
             static_cast<char>(~length >> 8)};
    zlib.append(raw, at, length);
  }
  be32(zlib, b << 16 | a);
  std::string header;
  be32(header, image.Width);
  be32(header, image.Height);
  header += std::string("\x08\x02\x00\x00\x00", 5);  // 8-bit RGB
  std::string png = "\x89PNG\r\n\x1a\n";
  chunk(png, "IHDR", header);
  chunk(png, "IDAT", zlib);
  chunk(png, "IEND", "");
  return png;
}

// Each test: a display of its own, a thermometer on COM1, and the program in a fresh directory.
class DebugWindowTest : public ::testing::Test {
 protected:
  void SetUp() override {
    const std::string xvfb = FindOnPath("Xvfb");
    if (xvfb.empty() || FindOnPath("xwininfo").empty() || FindOnPath("xwd").empty())
      GTEST_SKIP() << "Xvfb, xwininfo or xwd is not installed";
    FDisplay = std::make_unique<TVirtualDisplay>(xvfb);
    ASSERT_FALSE(FDisplay->Name().empty()) << "Xvfb did not start";
    fs::create_directory(FDir.File("work"));
  }

  void Start(const std::string& config) {
    FDir.Write("config.xml", config);
    test::WriteRegistryFile(FDir.File("registry.reg"), FDir.File("config.xml"),
                            {{1, FThermometer.SlavePath()}});
    FProgram = std::make_unique<test::TChildProcess>(
        std::vector<std::string>{test::BinPath("duzezevovivo"), "-debug"},
        std::map<std::string, std::string>{{"DISPLAY", FDisplay->Name()},
                                           {"WAYLAND_DISPLAY", ""},
                                           {"QT_QPA_PLATFORM", ""},
                                           {"DUZEZEVOVIVO_REGISTRY", FDir.File("registry.reg")},
                                           {"DUZEZEVOVIVO_EVENTLOG", FDir.File("events.log")},
                                           {"DUZEZEVOVIVO_SHUTDOWN_COMMAND", "true"}},
        FDir.File("work"));
  }

  TWindowInfo WaitForWindow(const std::string& caption) {
    TWindowInfo window;
    test::WaitUntil([&] { return !(window = FindWindow(*FDisplay, caption)).Id.empty(); }, 20s);
    return window;
  }

  bool Logged(const std::string& text) const {
    for (const auto& entry : fs::directory_iterator(FDir.File("work")))
      if (test::ReadFile(entry.path()).find(text) != std::string::npos) return true;
    return false;
  }

  void ExpectEndOnSigterm() {
    FProgram->Signal(SIGTERM);
    EXPECT_EQ(FProgram->Wait(10s), 0) << FProgram->Stderr();
  }

  std::unique_ptr<TVirtualDisplay> FDisplay;
  test::TTempDir FDir;
  test::TPty FThermometer;
  std::unique_ptr<test::TChildProcess> FProgram;
};

TEST_F(DebugWindowTest, WindowShowsAtItsSizeAndEndsOnSigterm) {
  Start(R"(<config><Kelvo comport="1" caption="Room"/></config>)");
  const TWindowInfo window = WaitForWindow(Caption);
  ASSERT_FALSE(window.Id.empty()) << "no window; stderr: " << FProgram->Stderr()
                                  << "\nXvfb: " << FDisplay->Log();
  EXPECT_EQ(window.Width, 667);
  EXPECT_EQ(window.Height, 415);

  // Readings the window shows; once they are in the log file the writer hands them to the window.
  for (const char* reading : {"*B1E1+023.5C\r", "*B1E1+023.6C\r", "*B1E1+023.7C\r"})
    FThermometer.Write(reading);
  EXPECT_TRUE(test::WaitUntil([&] { return Logged("[Room] parse temperature: 23.7"); }, 10s));
  usleep(300 * 1000);  // let the window paint the last lines before the dump

  const fs::path artifacts = fs::path(test::BinPath("duzezevovivo")).parent_path() / ".." / "artifacts";
  fs::create_directories(artifacts);
  const std::string dump = (artifacts / "debug-window.xwd").string();
  FDisplay->Run({"xwd", "-id", window.Id, "-out", dump});
  const TImage image = ReadXwd(test::ReadFile(dump));
  ASSERT_EQ(image.Width, 667);
  ASSERT_EQ(image.Height, 415);
  test::WriteFile((artifacts / "debug-window.png").string(), EncodePng(image));
  // The 8-pixel margin shows the window colour on every side; inside it, the view's own colour.
  const auto margin = image.Pixel(4, 200);
  for (auto [x, y] : {std::pair{333, 4}, {662, 200}, {333, 410}})
    EXPECT_EQ(image.Pixel(x, y), margin) << x << "," << y;
  EXPECT_NE(image.Pixel(333, 380), margin);

  ExpectEndOnSigterm();
  EXPECT_TRUE(FindWindow(*FDisplay, Caption).Id.empty());
}

// The error box of a failed platform creation runs a loop of its own; a stop signal must end it.
TEST_F(DebugWindowTest, SigtermEndsTheProgramWhileThePlatformErrorIsShown) {
  Start(R"(<config><Kelvo comport="1"></config>)");
  ASSERT_FALSE(WaitForWindow("duzezevovivo").Id.empty()) << "no error box; stderr: " << FProgram->Stderr();
  EXPECT_TRUE(FindWindow(*FDisplay, Caption).Id.empty());
  ExpectEndOnSigterm();
}

// A display name on which no X server answers.
std::string UnusedDisplay() {
  int number = 2000;
  while (fs::exists("/tmp/.X11-unix/X" + std::to_string(number))) ++number;
  return ":" + std::to_string(number);
}

// Qt would end the process on a display that no server answers; a binary without its window module
// has no window to show. Either way the log goes to the terminal, and SIGTERM still ends the run well.
TEST(DebugFallbackTest, WithoutAWindowTheLogGoesToTheTerminal) {
  test::TTempDir dir;
  fs::create_directory(dir.File("bin"));
  fs::copy_file(test::BinPath("duzezevovivo"), dir.File("bin/duzezevovivo"));
  dir.Write("config.xml", "<config/>");
  test::WriteRegistryFile(dir.File("registry.reg"), dir.File("config.xml"), {});
  struct TCase {
    const char* Label;
    std::string Program;
    std::map<std::string, std::string> Display;
    const char* Reason;  // on stderr before the notice
  };
  const TCase cases[] = {
      {"no server answers", test::BinPath("duzezevovivo"), {{"DISPLAY", UnusedDisplay()}}, ""},
      {"no window module",
       dir.File("bin/duzezevovivo"),
       {{"QT_QPA_PLATFORM", "offscreen"}},
       "libduzezevovivo-window.so: cannot open shared object file"},
  };
  for (const TCase& c : cases) {
    std::map<std::string, std::string> environment{{"DISPLAY", ""},
                                                   {"WAYLAND_DISPLAY", ""},
                                                   {"QT_QPA_PLATFORM", ""},
                                                   {"DUZEZEVOVIVO_REGISTRY", dir.File("registry.reg")},
                                                   {"DUZEZEVOVIVO_EVENTLOG", dir.File("events.log")},
                                                   {"DUZEZEVOVIVO_SHUTDOWN_COMMAND", "true"}};
    for (const auto& [name, value] : c.Display) environment[name] = value;
    test::TChildProcess program({c.Program, "-debug"}, environment, dir.Path().string());
    EXPECT_TRUE(program.WaitForOutput("] KelvoPlatform created\n", 20s))
        << c.Label << "\n"
        << program.Stdout() << program.Stderr();
    program.Signal(SIGTERM);
    EXPECT_EQ(program.Wait(10s), 0) << c.Label;
    const std::string errors = program.Stderr();
    const size_t reason = errors.find(c.Reason),
                 notice = errors.find("No display available, showing the log here\n");
    EXPECT_NE(notice, std::string::npos) << c.Label << ": " << errors;
    EXPECT_LT(reason, notice) << c.Label << ": " << errors;
  }
}

}  // namespace
}  // namespace duz
