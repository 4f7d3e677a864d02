#pragma once
// Writing files that matter: whole writes, and replacement by write-beside-then-rename, so that a
// reader, a crash or a full disk never meets a truncated file. The files the service writes may lie
// in directories that others can write to, and their names are predictable: a symbolic link in the
// last component is never followed, and only regular files are written. Any thread.
#include <sys/types.h>

#include <cerrno>
#include <string>
#include <string_view>

namespace duz {

// The error of a path that exists but is no regular file (a FIFO, a device, a directory).
constexpr int ENotRegularFile = EMEDIUMTYPE;

// Writes every byte (retrying short writes and EINTR); false on error, with errno set. written, when
// given, receives the number of bytes written, also on error.
bool WriteAll(int fd, std::string_view bytes, size_t* written = nullptr);
// Opens path (flags such as O_RDONLY, O_WRONLY | O_CREAT | O_APPEND) without following a symbolic
// link in its last component (errno ELOOP) and only when it is a regular file (errno
// ENotRegularFile); never waits on a FIFO. Returns the descriptor (close-on-exec) or -1.
int OpenRegularFile(const std::string& path, int flags, mode_t mode = 0644);
// Replaces the file's content with bytes: written to a file of an unpredictable name beside it
// (created exclusively, with the old file's permissions, else 0644), flushed to disk, renamed over
// it, and the directory flushed. Returns 0 or the errno of the step that failed; the old file is
// then untouched and no temporary file stays. A path that is a symbolic link or no regular file is
// refused (ELOOP, ENotRegularFile).
int ReplaceFileContent(const std::string& path, std::string_view bytes);
// What an errno of the functions above means, for messages.
std::string FileErrorText(int error);

}  // namespace duz
