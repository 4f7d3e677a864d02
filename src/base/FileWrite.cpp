#include "base/FileWrite.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <filesystem>

#include "base/Clock.h"
#include "base/FormatDateTime.h"

namespace duz {
namespace {

constexpr std::string_view BesideMark = ".saving-";
constexpr size_t UniqueLength = 6;  // the XXXXXX of mkostemp

// 0, or the errno that refuses to write over what is at path now (nothing there is fine).
int CheckReplaceable(const std::string& path, mode_t& mode) {
  struct stat old {};
  if (::lstat(path.c_str(), &old) != 0) return errno == ENOENT ? 0 : errno;
  if (S_ISLNK(old.st_mode)) return ELOOP;
  if (!S_ISREG(old.st_mode)) return ENotRegularFile;
  mode = old.st_mode & 07777;
  return 0;
}

// Beside-files of path that no writer holds locked: left by a writer that was killed.
void RemoveAbandonedBesideFiles(const std::string& path) {
  const std::filesystem::path file(path);
  const std::string prefix = file.filename().string() + std::string(BesideMark);
  const std::filesystem::path directory = file.has_parent_path() ? file.parent_path() : ".";
  std::error_code error;
  for (std::filesystem::directory_iterator it(directory, error), end; !error && it != end;
       it.increment(error)) {
    const std::string name = it->path().filename().string();
    if (name.size() != prefix.size() + UniqueLength || !name.starts_with(prefix)) continue;
    const int fd = OpenRegularFile(it->path(), O_RDONLY);
    if (fd < 0) continue;
    if (::flock(fd, LOCK_EX | LOCK_NB) == 0) ::unlink(it->path().c_str());
    ::close(fd);
  }
}

// The rename is durable only once the directory that holds the new name is on disk too. The new
// content is in place by then, so a directory that cannot be flushed fails nothing.
void SyncDirectoryOf(const std::string& path) {
  std::filesystem::path parent = std::filesystem::path(path).parent_path();
  int fd = ::open(parent.empty() ? "." : parent.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return;
  ::fsync(fd);
  ::close(fd);
}

// OpenRegularFile, without its refusal of a link unless flags hold O_NOFOLLOW.
int OpenRegular(const std::string& path, int flags, mode_t mode) {
  // O_NONBLOCK: opening a FIFO must not wait for its other end; it is refused below anyway.
  int fd = ::open(path.c_str(), flags | O_NONBLOCK | O_CLOEXEC, mode);
  if (fd < 0) {
    if (errno == ENXIO) errno = ENotRegularFile;  // a FIFO without a reader, a device without one
    return -1;
  }
  struct stat info {};
  if (int error = ::fstat(fd, &info) != 0 ? errno : S_ISREG(info.st_mode) ? 0 : ENotRegularFile) {
    ::close(fd);
    errno = error;
    return -1;
  }
  ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK);
  return fd;
}

}  // namespace

int OpenRegularFile(const std::string& path, int flags, mode_t mode) {
  return OpenRegular(path, flags | O_NOFOLLOW, mode);
}

int ReadAll(int fd, std::string& content, size_t maxSize) {
  content.clear();
  char buffer[65536];
  for (ssize_t count; (count = ::read(fd, buffer, sizeof buffer)) != 0;) {
    if (count < 0 && errno == EINTR) continue;
    if (count < 0) return errno;
    if (content.size() + static_cast<size_t>(count) > maxSize) return EFBIG;
    content.append(buffer, static_cast<size_t>(count));
  }
  return 0;
}

int ReadRegularFile(const std::string& path, std::string& content, size_t maxSize, TLinks links) {
  const int fd = OpenRegular(path, links == TLinks::Follow ? O_RDONLY : O_RDONLY | O_NOFOLLOW, 0);
  if (fd < 0) return errno;
  const int error = ReadAll(fd, content, maxSize);
  ::close(fd);
  return error;
}

bool WriteAll(int fd, std::string_view bytes, size_t* written) {
  if (written) *written = 0;
  while (!bytes.empty()) {
    ssize_t count = ::write(fd, bytes.data(), bytes.size());
    if (count < 0 && errno == EINTR) continue;
    if (count <= 0) {
      if (count == 0) errno = EIO;
      return false;
    }
    bytes.remove_prefix(static_cast<size_t>(count));
    if (written) *written += static_cast<size_t>(count);
  }
  return true;
}

off_t AppendStart(int fd) { return ::lseek(fd, 0, SEEK_END); }

bool UndoAppend(int fd, off_t start) {
  const int error = errno;
  const bool undone = start >= 0 && ::ftruncate(fd, start) == 0;
  errno = error;
  return undone;
}

int ReplaceFileContent(const std::string& path, std::string_view bytes, bool ownerOnly) {
  mode_t mode = NewFileMode;
  if (int error = CheckReplaceable(path, mode)) return error;
  if (ownerOnly) mode = S_IRUSR | S_IWUSR;
  RemoveAbandonedBesideFiles(path);
  std::string temp = path + std::string(BesideMark) + std::string(UniqueLength, 'X');
  int fd = ::mkostemp(temp.data(), O_CLOEXEC);
  if (fd < 0) return errno;
  ::flock(fd, LOCK_EX);  // held until the close: the file is not abandoned while we write it
  ::fchmod(fd, mode);
  int error = !WriteAll(fd, bytes) ? errno : ::fsync(fd) != 0 ? errno : 0;
  if (::close(fd) != 0 && error == 0) error = errno;
  if (error == 0 && ::rename(temp.c_str(), path.c_str()) != 0) error = errno;
  if (error != 0) {
    ::unlink(temp.c_str());
    return error;
  }
  SyncDirectoryOf(path);
  return 0;
}

std::string SetAside(const std::string& path) {
  const std::string aside = path + ".corrupt-" + FormatDateTime("yyyymmddhhnnss", Now());
  return ::rename(path.c_str(), aside.c_str()) == 0 ? aside : "";
}

std::string FileErrorText(int error) {
  if (error == ELOOP) return "It is a symbolic link, which is not followed";
  if (error == ENotRegularFile) return "It is not a regular file";
  return std::strerror(error);
}

}  // namespace duz
