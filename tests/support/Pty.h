#pragma once
// A pseudo-terminal standing in for a thermometer: the test writes to the master side what the
// thermometer sends and reads what the program writes to the device (SlavePath()).
#include <chrono>
#include <string>

namespace duz::test {

class TPty {
 public:
  TPty();
  ~TPty();
  const std::string& SlavePath() const { return FSlavePath; }
  int MasterFd() const { return FMaster; }
  void Write(const std::string& bytes);
  // Bytes the program wrote to the device, waiting up to timeout for at least one.
  std::string Read(std::chrono::milliseconds timeout);
  // Closes the master side: the device hangs up.
  void HangUp();

 private:
  int FMaster = -1;
  int FSlave = -1;  // kept open so that the device stays usable between the program's opens
  std::string FSlavePath;
};

}  // namespace duz::test
