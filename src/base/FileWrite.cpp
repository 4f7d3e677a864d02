#include "base/FileWrite.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <filesystem>

namespace duz {
namespace {

constexpr std::string_view BesideMark = ".saving-";
constexpr size_t UniqueLength = 6;  // the XXXXXX of mkostemp

void RemoveAbandonedBesideFiles(const std::string& path) {
  const std::filesystem::path file(path);
  const std::string prefix = file.filename().string() + std::string(BesideMark);
  const std::filesystem::path directory = file.has_parent_path() ? file.parent_path() : ".";
  std::error_code error;
  for (std::filesystem::directory_iterator it(directory, error), end; !error && it != end;
       it.increment(error)) {
    const std::string name = it->path().filename().string();
    if (name.size() != prefix.size() + UniqueLength || !name.starts_with(prefix)) continue;
    const int fd = ::open(it->path().c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) continue;
    if (::flock(fd, LOCK_EX | LOCK_NB) == 0) ::unlink(it->path().c_str());
    ::close(fd);
  }
}

}  // namespace

int ReadFileContent(const std::string& path, std::string& content, size_t maxSize) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return errno;
  content.clear();
  char buffer[65536];
  int error = 0;
  for (ssize_t count; (count = ::read(fd, buffer, sizeof buffer)) != 0;) {
    if (count < 0 && errno == EINTR) continue;
    if (count < 0 || content.size() + static_cast<size_t>(count) > maxSize) {
      error = count < 0 ? errno : EFBIG;
      break;
    }
    content.append(buffer, static_cast<size_t>(count));
  }
  ::close(fd);
  return error;
}

bool WriteAll(int fd, std::string_view bytes) {
  while (!bytes.empty()) {
    ssize_t count = ::write(fd, bytes.data(), bytes.size());
    if (count < 0 && errno == EINTR) continue;
    if (count <= 0) {
      if (count == 0) errno = EIO;
      return false;
    }
    bytes.remove_prefix(static_cast<size_t>(count));
  }
  return true;
}

off_t AppendStart(int fd) { return ::lseek(fd, 0, SEEK_END); }

void UndoAppend(int fd, off_t start) {
  const int error = errno;
  if (start >= 0) (void)::ftruncate(fd, start);
  errno = error;
}

int ReplaceFileContent(const std::string& path, std::string_view bytes, bool flushToDisk) {
  RemoveAbandonedBesideFiles(path);
  std::string temp = path + std::string(BesideMark) + std::string(UniqueLength, 'X');
  int fd = ::mkostemp(temp.data(), O_CLOEXEC);
  if (fd < 0) return errno;
  ::flock(fd, LOCK_EX);  // held until the close: the file is not abandoned while we write it
  struct stat old {};
  ::fchmod(fd, ::stat(path.c_str(), &old) == 0 ? old.st_mode & 07777 : 0644);
  int error = !WriteAll(fd, bytes) ? errno : (flushToDisk && ::fsync(fd) != 0) ? errno : 0;
  if (::close(fd) != 0 && error == 0) error = errno;
  if (error == 0 && ::rename(temp.c_str(), path.c_str()) != 0) error = errno;
  if (error != 0) ::unlink(temp.c_str());
  return error;
}

}  // namespace duz
