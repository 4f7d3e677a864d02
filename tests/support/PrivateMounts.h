#pragma once
// A program run in a mount namespace of its own (unshare -m, as root), where the test binds files
// over system files (/etc/hosts) or mounts a small file system, leaving the machine's own alone.
#include <string>
#include <vector>

namespace duz::test {

// Whether such a namespace can be made here; a test skips with a reason when not.
bool PrivateMountsAvailable();
// argv of a command that runs the shell commands setup in a new mount namespace and then replaces
// itself with argv (the same process id, so /proc/<pid>/root shows the namespace's files).
std::vector<std::string> InPrivateMounts(const std::string& setup, const std::vector<std::string>& argv);

}  // namespace duz::test
