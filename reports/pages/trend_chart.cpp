#include "pages/trend_chart.h"

#include <algorithm>
#include <ctime>
#include <map>

#include "pages/report_text.h"
#include "store/retention.h"
#include "store/signature.h"

namespace ulr {

namespace {

const char* const kColours[kTrendVersions + 1] = {"#0b57d0", "#e8710a", "#1e8e3e", "#9334e6",
                                                   "#d93025", "#12b5cb", "#9aa3ae"};
constexpr int kWidth = 960, kHeight = 240, kLeft = 44, kTop = 14, kPlotHeight = 170;
constexpr int kBarStep = (kWidth - kLeft - 16) / kTrendDays;

std::string Day(std::int64_t day) {
  const std::time_t t = static_cast<std::time_t>(day * (kDayMs / 1000));
  std::tm tm{};
  gmtime_r(&t, &tm);
  char text[16];
  std::strftime(text, sizeof text, "%m-%d", &tm);
  return text;
}

// The versions in the chart's days, newest first; beyond the colours, the
// older ones are drawn as one.
std::vector<std::string> ChartVersions(const std::vector<DayCount>& counts) {
  std::vector<std::string> versions;
  for (const DayCount& c : counts)
    if (std::find(versions.begin(), versions.end(), c.version) == versions.end()) versions.push_back(c.version);
  std::sort(versions.begin(), versions.end(), [](const std::string& a, const std::string& b) { return OlderVersion(b, a); });
  return versions;
}

// The name a colour stands for, shown.
std::string ColourName(const std::vector<std::string>& versions, std::size_t i) {
  if (i == kTrendVersions) return "그 이전";
  return versions[i].empty() ? "(없음)" : HtmlEscape(DisplayText(versions[i]));
}

std::string Legend(const std::vector<std::string>& versions) {
  std::string out;
  int x = kLeft;
  for (std::size_t i = 0; i < versions.size() && i <= kTrendVersions; ++i) {
    const std::string name = ColourName(versions, i);
    out += "<rect x=\"" + std::to_string(x) + "\" y=\"" + std::to_string(kHeight - 16) +
           "\" width=\"12\" height=\"12\" fill=\"" + kColours[i] + "\"/><text x=\"" + std::to_string(x + 16) +
           "\" y=\"" + std::to_string(kHeight - 6) + "\">" + name + "</text>";
    x += 34 + static_cast<int>(name.size()) * 7;
  }
  return out;
}

}  // namespace

std::int64_t ZoneOffsetMs(std::int64_t ms) {
  const std::time_t t = static_cast<std::time_t>(ms / 1000);
  std::tm tm{};
  localtime_r(&t, &tm);
  return static_cast<std::int64_t>(tm.tm_gmtoff) * 1000;
}

std::int64_t DayOf(std::int64_t ms) { return (ms + ZoneOffsetMs(ms)) / kDayMs; }

std::string TrendChart(const std::vector<DayCount>& counts, std::int64_t today) {
  const std::vector<std::string> versions = ChartVersions(counts);
  const std::int64_t first = today - kTrendDays + 1;
  std::map<std::int64_t, std::vector<std::int64_t>> bars;  // day -> reports by colour
  std::int64_t top = 1;
  for (const DayCount& c : counts) {
    if (c.day < first || c.day > today) continue;
    const std::size_t colour = std::min<std::size_t>(
        std::find(versions.begin(), versions.end(), c.version) - versions.begin(), kTrendVersions);
    auto& bar = bars[c.day];
    bar.resize(kTrendVersions + 1);
    bar[colour] += c.reports;
  }
  for (const auto& b : bars) {
    std::int64_t sum = 0;
    for (std::int64_t n : b.second) sum += n;
    top = std::max(top, sum);
  }
  std::string svg = "<svg class=trend xmlns=\"http://www.w3.org/2000/svg\" width=\"" + std::to_string(kWidth) +
                    "\" height=\"" + std::to_string(kHeight) + "\" viewBox=\"0 0 " + std::to_string(kWidth) + " " +
                    std::to_string(kHeight) + "\" role=\"img\" font-size=\"12\" fill=\"#5a6472\">";
  svg += "<title>최근 " + std::to_string(kTrendDays) + "일 하루 보고 수 (클라이언트 버전별)</title>";
  const int base = kTop + kPlotHeight;
  svg += "<line x1=\"" + std::to_string(kLeft) + "\" y1=\"" + std::to_string(base) + "\" x2=\"" +
         std::to_string(kWidth - 8) + "\" y2=\"" + std::to_string(base) + "\" stroke=\"#c4cad3\"/>";
  svg += "<text x=\"" + std::to_string(kLeft - 6) + "\" y=\"" + std::to_string(kTop + 10) + "\" text-anchor=\"end\">" +
         std::to_string(top) + "</text><text x=\"" + std::to_string(kLeft - 6) + "\" y=\"" + std::to_string(base) +
         "\" text-anchor=\"end\">0</text>";
  for (std::int64_t d = first; d <= today; ++d) {
    const int x = kLeft + static_cast<int>(d - first) * kBarStep + 3;
    if ((today - d) % 5 == 0)
      svg += "<text x=\"" + std::to_string(x + kBarStep / 2 - 3) + "\" y=\"" + std::to_string(base + 16) +
             "\" text-anchor=\"middle\">" + Day(d) + "</text>";
    const auto bar = bars.find(d);
    if (bar == bars.end()) continue;
    int y = base;
    for (std::size_t c = 0; c < bar->second.size(); ++c) {
      if (bar->second[c] == 0) continue;
      const int h = std::max(1, static_cast<int>(bar->second[c] * kPlotHeight / top));
      y -= h;
      svg += "<rect x=\"" + std::to_string(x) + "\" y=\"" + std::to_string(y) + "\" width=\"" +
             std::to_string(kBarStep - 6) + "\" height=\"" + std::to_string(h) + "\" fill=\"" + kColours[c] +
             "\"><title>" + Day(d) + " " + ColourName(versions, c) + ": " + std::to_string(bar->second[c]) +
             "건</title></rect>";
    }
  }
  return svg + Legend(versions) + "</svg>";
}

}  // namespace ulr
