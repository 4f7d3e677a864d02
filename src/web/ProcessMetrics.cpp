#include "web/ProcessMetrics.h"

#include <sys/resource.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <limits>
#include <sstream>
#include <string>

namespace duz {
namespace {

using prometheus::MetricFamily;
using prometheus::MetricType;

void Add(std::vector<MetricFamily>& families, const char* name, const char* help, MetricType type,
         double value) {
  MetricFamily& family = families.emplace_back(MetricFamily{name, help, type, {{}}});
  (type == MetricType::Counter ? family.metric[0].counter.value : family.metric[0].gauge.value) = value;
}

// The fields of /proc/self/stat after the command name, which may itself hold blanks; fields[0]
// is the state, the third field of the file.
std::vector<std::string> StatFields() {
  std::ifstream in("/proc/self/stat");
  const std::string stat((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  const size_t end = stat.rfind(')');
  if (end == std::string::npos) return {};
  std::istringstream rest(stat.substr(end + 1));
  return {std::istream_iterator<std::string>(rest), std::istream_iterator<std::string>()};
}

// Seconds since the epoch at which the system booted, or -1.
double BootTime() {
  std::ifstream in("/proc/stat");
  for (std::string key; in >> key;) {
    if (key == "btime") {
      double seconds = -1;
      in >> seconds;
      return seconds;
    }
    in.ignore(std::numeric_limits<std::streamsize>::max(), '\n');
  }
  return -1;
}

}  // namespace

std::vector<MetricFamily> ProcessMetricFamilies() {
  std::vector<MetricFamily> families;
  const std::vector<std::string> stat = StatFields();
  const double ticks = static_cast<double>(sysconf(_SC_CLK_TCK));
  // utime, stime, starttime, vsize and rss are the 14th, 15th, 22nd, 23rd and 24th fields.
  if (stat.size() > 21 && ticks > 0) {
    const auto field = [&](int number) { return std::stod(stat[number - 3]); };
    Add(families, "process_cpu_seconds_total", "User and system CPU time spent in seconds",
        MetricType::Counter, (field(14) + field(15)) / ticks);
    Add(families, "process_virtual_memory_bytes", "Virtual memory size in bytes", MetricType::Gauge,
        field(23));
    Add(families, "process_resident_memory_bytes", "Resident memory size in bytes", MetricType::Gauge,
        field(24) * static_cast<double>(sysconf(_SC_PAGESIZE)));
    if (const double boot = BootTime(); boot >= 0)
      Add(families, "process_start_time_seconds", "Start time of the process since the epoch in seconds",
          MetricType::Gauge, boot + field(22) / ticks);
  }
  std::error_code error;
  double open = 0;
  for (std::filesystem::directory_iterator it("/proc/self/fd", error), end; !error && it != end;
       it.increment(error))
    ++open;
  if (!error)  // the listing's own descriptor is not counted
    Add(families, "process_open_fds", "Number of open file descriptors", MetricType::Gauge, open - 1);
  rlimit files{};
  if (getrlimit(RLIMIT_NOFILE, &files) == 0)
    Add(families, "process_max_fds", "Maximum number of open file descriptors", MetricType::Gauge,
        static_cast<double>(files.rlim_cur));
  return families;
}

}  // namespace duz
