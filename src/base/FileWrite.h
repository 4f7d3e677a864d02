#pragma once
// Reading and writing files that matter: bounded reads, whole writes, appends that a full disk
// cannot leave half done, and replacement by write-beside-then-rename, so that a reader, a crash
// or a full disk never meets a truncated file. The files the service writes may lie in directories
// that others can write to, and their names are predictable: a symbolic link in the last
// component is never followed, and only regular files are read or written. Any thread.
#include <sys/types.h>

#include <cerrno>
#include <cstddef>
#include <string>
#include <string_view>

namespace duz {

// The error of a path that exists but is no regular file (a FIFO, a device, a directory).
constexpr int ENotRegularFile = EMEDIUMTYPE;

// Files the service creates hold readings, logs and settings of the site: not for every local user.
constexpr mode_t NewFileMode = 0640;
constexpr mode_t NewDirectoryMode = 0750;

// Opens path (flags such as O_RDONLY, O_WRONLY | O_CREAT | O_APPEND) without following a symbolic
// link in its last component (errno ELOOP) and only when it is a regular file (errno
// ENotRegularFile); never waits on a FIFO. Returns the descriptor (close-on-exec) or -1.
int OpenRegularFile(const std::string& path, int flags, mode_t mode = NewFileMode);
// Reads the rest of the open file into content (retrying EINTR); returns 0, EFBIG when it holds
// more than maxSize bytes, or the errno of the read that failed.
int ReadAll(int fd, std::string& content, size_t maxSize);
// Whether a read follows a symbolic link at the path: only for files the administrator names (the
// registry, the configuration), never for those in directories others may write to.
enum class TLinks { Refuse, Follow };
// The whole file at path, at most maxSize bytes, opened as OpenRegularFile does (a link followed
// only when links says so) and read as ReadAll does: the one bounded read of every file the program
// takes in. Returns 0 or the errno of the step that failed (ENOENT when there is nothing at path,
// ENotRegularFile for a directory, a FIFO or a device, EFBIG beyond maxSize).
int ReadRegularFile(const std::string& path, std::string& content, size_t maxSize,
                    TLinks links = TLinks::Refuse);
// Writes every byte (retrying short writes and EINTR); false on error, with errno set. written, when
// given, receives the number of bytes written, also on error.
bool WriteAll(int fd, std::string_view bytes, size_t* written = nullptr);
// Where an append to the open file starts: its end; -1 when that cannot be told.
off_t AppendStart(int fd);
// Undoes a failed append: the file is cut back to where the append started, so that a full disk
// never leaves half a line behind. True when it is; keeps errno.
bool UndoAppend(int fd, off_t start);
// Replaces the file's content with bytes: written to a file of an unpredictable name beside it
// ("<name>.saving-XXXXXX", created exclusively, with the old file's permissions, else NewFileMode),
// flushed to disk, renamed over it, and the directory flushed. Returns 0 or the errno of the step
// that failed; the old file is then untouched and no temporary file stays. A path that is a
// symbolic link or no regular file is refused (ELOOP, ENotRegularFile). The beside-file is locked
// while it is written; one that no writer holds (its writer was killed) is removed by the next
// replacement of the same file. ownerOnly: readable and writable by its owner only, whatever the
// old file's permissions, for a file that holds secrets.
int ReplaceFileContent(const std::string& path, std::string_view bytes, bool ownerOnly = false);
// Moves a file that cannot be read out of the way, so that a new one may begin and the old one can
// be looked at: to "<path>.corrupt-yyyymmddhhnnss" (the local time now). Returns that name, or ""
// with errno set when it cannot be moved.
std::string SetAside(const std::string& path);
// What an errno of the functions above means, for messages.
std::string FileErrorText(int error);

}  // namespace duz
