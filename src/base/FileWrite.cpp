#include "base/FileWrite.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

namespace duz {

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

int ReplaceFileContent(const std::string& path, std::string_view bytes, bool flushToDisk) {
  std::string temp = path + ".XXXXXX";
  int fd = ::mkostemp(temp.data(), O_CLOEXEC);
  if (fd < 0) return errno;
  struct stat old {};
  ::fchmod(fd, ::stat(path.c_str(), &old) == 0 ? old.st_mode & 07777 : 0644);
  int error = !WriteAll(fd, bytes) ? errno : (flushToDisk && ::fsync(fd) != 0) ? errno : 0;
  if (::close(fd) != 0 && error == 0) error = errno;
  if (error == 0 && ::rename(temp.c_str(), path.c_str()) != 0) error = errno;
  if (error != 0) ::unlink(temp.c_str());
  return error;
}

}  // namespace duz
