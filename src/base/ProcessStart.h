#pragma once
// Starting other programs without a shell: arguments are passed as they are, so no text can run
// commands. The program starts with no signal blocked and every signal at its default action,
// whatever this process blocks or ignores. Any thread.
#include <functional>
#include <string>
#include <vector>

namespace duz {

// Starts argv[0] (searched on PATH) and returns at once; the child is reaped in the background,
// where onExit, if given, gets its exit status (-1 when it did not exit by itself). Returns the
// child's pid, or -1 when it could not be started (onExit is not called then).
int StartProcess(const std::vector<std::string>& argv, std::function<void(int status)> onExit = {});
// Starts argv[0] (searched on PATH) and waits for it; returns its exit status, or -1.
int RunProcess(const std::vector<std::string>& argv);

}  // namespace duz
