#pragma once
// The usual process families of a Prometheus target (CPU time, memory, open descriptors, start
// time), read from /proc: the metrics library of this system has none of its own. Any thread.
#include <prometheus/metric_family.h>

#include <vector>

namespace duz {

// A value that cannot be read is left out.
std::vector<prometheus::MetricFamily> ProcessMetricFamilies();

}  // namespace duz
