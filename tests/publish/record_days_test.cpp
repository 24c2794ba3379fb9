// The record's days init writes with "[PACE]": the fewest from the updater's
// default up at which a start's share of reading again fits its second.
#include <gtest/gtest.h>

#include <cstdint>

#include "formats/lists/program_config.h"
#include "formats/trust/verified_record.h"
#include "tree/tree_layout.h"

namespace {

constexpr uint64_t kMiB = 1ull << 20, kGiB = 1ull << 30;

TEST(RecordDays, FewestDaysWhoseShareFitsAStartsSecond) {
  const struct {
    const char* what;
    uint64_t bytes, biggest;
    int days;
  } rows[] = {
      {"an empty client", 0, 0, kVerifiedDaysDefault},
      {"1 GiB with a file of 256 MiB: a share of 213 MiB at 7 days", kGiB, 256 * kMiB, kVerifiedDaysDefault},
      {"a share of 512 MiB exactly at 7 days", 3 * kGiB, 0, 7},
      {"a byte more", 3 * kGiB, 1, 8},
      {"10 GiB with a file of 2 GiB: 12 GiB over 24 days", 10 * kGiB, 2 * kGiB, 25},
      {"more than any record's days cover", 4000 * kGiB, kGiB, kVerifiedDaysMax},
  };
  for (const auto& row : rows) {
    const int days = ulp::VerifiedDaysFor(row.bytes, row.biggest);
    EXPECT_EQ(days, row.days) << row.what;
    if (days < kVerifiedDaysMax) {
      EXPECT_LE(ul::DailyShareOf(row.bytes, row.biggest, days), 512 * kMiB) << row.what;
    }
    if (days > kVerifiedDaysDefault) {
      EXPECT_GT(ul::DailyShareOf(row.bytes, row.biggest, days - 1), 512 * kMiB) << row.what;
    }
  }
}

}  // namespace
