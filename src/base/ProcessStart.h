#pragma once
// Starting other programs without a shell: arguments are passed as they are, so no text can run
// commands. The program starts with no signal blocked and every signal at its default action,
// whatever this process blocks or ignores. Any thread.
#include <string>
#include <vector>

namespace duz {

// Starts argv[0] (searched on PATH) and returns at once; the child is reaped in the background.
// Returns the child's pid, or -1 when it could not be started.
int StartProcess(const std::vector<std::string>& argv);
// Starts argv[0] (searched on PATH) and waits for it; returns its exit status, or -1.
int RunProcess(const std::vector<std::string>& argv);

}  // namespace duz
