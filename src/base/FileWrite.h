#pragma once
// Reading and writing files that matter: bounded reads, whole writes, and replacement by
// write-beside-then-rename, so that a reader, a crash or a full disk never meets a truncated file.
// Any thread.
#include <sys/types.h>

#include <cstddef>
#include <string>
#include <string_view>

namespace duz {

// Reads the whole file into content; returns 0, EFBIG when it is larger than maxSize, or the errno
// of the step that failed.
int ReadFileContent(const std::string& path, std::string& content, size_t maxSize);
// Writes every byte (retrying short writes and EINTR); false on error, with errno set.
bool WriteAll(int fd, std::string_view bytes);
// Where an append to the open file starts: its end; -1 when that cannot be told.
off_t AppendStart(int fd);
// Undoes a failed append: the file is cut back to where the append started, so that a full disk
// never leaves half a line behind. Keeps errno.
void UndoAppend(int fd, off_t start);
// Replaces the file's content with bytes: written to a temporary file beside it (with the old
// file's permissions, else 0644), optionally flushed to disk, then renamed over it. Returns 0 or
// the errno of the step that failed; the old file is then untouched and no temporary file stays.
// The beside-file ("<name>.saving-XXXXXX") is locked while it is written; one that no writer holds
// (its writer was killed) is removed by the next replacement of the same file.
int ReplaceFileContent(const std::string& path, std::string_view bytes, bool flushToDisk);

}  // namespace duz
