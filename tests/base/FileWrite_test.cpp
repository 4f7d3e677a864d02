#include "base/FileWrite.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>

#include "support/TempDir.h"

namespace duz {
namespace {

// A killed writer leaves its beside-file; the next replacement of the same file takes it away,
// but never one that a writer still holds, nor a file that only looks alike.
TEST(FileWrite, AbandonedBesideFilesGoWithTheNextReplacement) {
  test::TTempDir dir;
  const std::string path = dir.File("data.xml");
  dir.Write("data.xml.saving-Ab12Cd", "abandoned");
  dir.Write("data.xml.saving-Held00", "being written");
  dir.Write("data.xml.backup", "the user's");
  dir.Write("other.xml.saving-Ab12Cd", "another file's");
  const int held = ::open(dir.File("data.xml.saving-Held00").c_str(), O_RDONLY);
  ASSERT_EQ(::flock(held, LOCK_EX), 0);

  ASSERT_EQ(ReplaceFileContent(path, "new"), 0);
  ::close(held);
  std::vector<std::string> names;
  for (const auto& entry : std::filesystem::directory_iterator(dir.Path()))
    names.push_back(entry.path().filename());
  std::sort(names.begin(), names.end());
  EXPECT_EQ(names, (std::vector<std::string>{"data.xml", "data.xml.backup", "data.xml.saving-Held00",
                                             "other.xml.saving-Ab12Cd"}));
  EXPECT_EQ(dir.Read("data.xml"), "new");
}

// A replacement keeps the old file's permissions, but a file of secrets becomes its owner's alone.
TEST(FileWrite, ReplacementKeepsPermissionsUnlessOwnerOnly) {
  test::TTempDir dir;
  const std::string path = dir.File("state");
  dir.Write("state", "old");
  ::chmod(path.c_str(), 0644);
  for (const bool ownerOnly : {false, true}) {
    ASSERT_EQ(ReplaceFileContent(path, "new", ownerOnly), 0);
    EXPECT_EQ(std::filesystem::status(path).permissions(),
              ownerOnly ? std::filesystem::perms(0600) : std::filesystem::perms(0644));
  }
}

// A file size limit fails a write half way, as a full disk does.
TEST(FileWrite, FailedAppendLeavesNoHalfLine) {
  test::TTempDir dir;
  dir.Write("log.txt", "line 1\r\n");
  const int fd = ::open(dir.File("log.txt").c_str(), O_WRONLY | O_APPEND);
  struct sigaction ignore {
  }, old{};
  ignore.sa_handler = SIG_IGN;
  ::sigaction(SIGXFSZ, &ignore, &old);
  rlimit limit{}, saved{};
  ::getrlimit(RLIMIT_FSIZE, &saved);
  limit = saved;
  limit.rlim_cur = 20;
  ::setrlimit(RLIMIT_FSIZE, &limit);

  const off_t start = AppendStart(fd);
  const bool written = WriteAll(fd, "line 2 is longer than the room left\r\n");
  const int error = errno;
  if (!written) UndoAppend(fd, start);
  ::setrlimit(RLIMIT_FSIZE, &saved);
  ::sigaction(SIGXFSZ, &old, nullptr);
  ::close(fd);

  EXPECT_FALSE(written);
  EXPECT_EQ(error, EFBIG);
  EXPECT_EQ(dir.Read("log.txt"), "line 1\r\n");
}

}  // namespace
}  // namespace duz
