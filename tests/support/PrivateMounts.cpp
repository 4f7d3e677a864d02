#include "support/PrivateMounts.h"

#include "support/Process.h"

namespace duz::test {

bool PrivateMountsAvailable() {
  TChildProcess probe({"unshare", "-m", "mount", "-t", "tmpfs", "-o", "size=4k", "tmpfs", "/mnt"});
  return probe.Wait(std::chrono::seconds(10)) == 0;
}

std::vector<std::string> InPrivateMounts(const std::string& setup, const std::vector<std::string>& argv) {
  std::vector<std::string> command{"unshare", "-m", "sh", "-ec", setup + "\nexec \"$@\"", "sh"};
  command.insert(command.end(), argv.begin(), argv.end());
  return command;
}

}  // namespace duz::test
