// The real program's saves in a directory where someone else planted symbolic links at the names it
// will save to.
#include <filesystem>

#include "e2e/DebugProgram.h"

namespace duz {
namespace {

using namespace std::chrono_literals;

TEST(SaveFilesTest, SymbolicLinksAtTheSaveNamesAreRefusedAndNamedWhileOtherSavesGoOn) {
  test::TDebugProgram program;
  const std::string saves = program.Dir.File("saves/");
  std::filesystem::create_directory(saves);
  const std::string secret = program.Dir.File("secret");
  test::WriteFile(secret, "<root>secret</root>");
  for (const char* name : {"readings.xml", "lines.txt"})
    std::filesystem::create_symlink(secret, saves + name);
  ASSERT_TRUE(
      program.Start("<config><KELVO comport=\"1\" caption=\"Room\">"
                    "<SAVE type=\"XML\" filename=\"readings\" directory=\"" +
                        saves +
                        "\"/>"
                        "<SAVE type=\"TXT\" filename=\"lines\" directory=\"" +
                        saves +
                        "\"/>"
                        "<SAVE type=\"TXT\" filename=\"good\" directory=\"" +
                        saves +
                        "\"/>"
                        "</KELVO></config>",
                    {{"DUZEZEVOVIVO_FIRST_TICK", "1"}}));
  // The first tick, and the first save, comes 1 s after the start.
  ASSERT_TRUE(test::WaitUntil([&] { return std::filesystem::exists(saves + "good.txt"); }, 10s))
      << program.Program->Stdout();
  for (const char* name : {"readings.xml", "lines.txt"}) {
    EXPECT_TRUE(program.Program->WaitForOutput("[Room] ! Exception - Cannot open file \"" + saves + name +
                                                   "\". It is a symbolic link, which is not followed",
                                               5s))
        << program.Program->Stdout();
    EXPECT_TRUE(std::filesystem::is_symlink(saves + name)) << name;
  }
  EXPECT_EQ(test::ReadFile(secret), "<root>secret</root>");
  EXPECT_EQ(test::ReadFile(saves + "good.txt"), "Kelvo not connected\r\n");
}

}  // namespace
}  // namespace duz
