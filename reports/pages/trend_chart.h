// The trend of reports: one bar a day for the last days, stacked by client
// version, drawn on the server as SVG inside the page (no script, no
// resource of its own, so the pages' content security policy holds).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "store/store.h"

namespace ulr {

constexpr int kTrendDays = 30;
// Versions drawn in colours of their own, the newest first; older ones share one.
constexpr std::size_t kTrendVersions = 6;

// The chart of counts (from DailyCounts) for the kTrendDays days up to
// and including today (a day number as DailyCounts counts them).
std::string TrendChart(const std::vector<DayCount>& counts, std::int64_t today);

// The day number of ms and the zone's offset from UTC then, as the pages
// count days (the server's time zone).
std::int64_t ZoneOffsetMs(std::int64_t ms);
std::int64_t DayOf(std::int64_t ms);

}  // namespace ulr
