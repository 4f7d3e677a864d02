#pragma once
// The thermometers' metric families for the Prometheus text format: readings, connection,
// condition states and limits, counters. Every per-thermometer series carries `caption` and
// `comport`, so that two thermometers with one caption still give distinct series; the condition
// series also carry `condition`, the condition's place in its thermometer element (1, 2, ...).
// A pure function of the snapshot.
#include <prometheus/metric_family.h>

#include <vector>

#include "status/StatusBoard.h"

namespace duz {

std::vector<prometheus::MetricFamily> SnapshotMetricFamilies(const TPlatformSnapshot& snapshot);

}  // namespace duz
