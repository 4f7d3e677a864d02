#pragma once
// The device of a COM number, as the registry maps it: value "COM<n>" of key ComPorts under the
// program's key, else /dev/ttyS<n-1>. Read anew at every call, so that a port reopened after its
// device went picks up a new mapping. Any thread.
#include <string>

namespace duz {

// Raises ERegistryException when the registry cannot be read.
std::string ComDevicePath(int number);

}  // namespace duz
