// 20,000 posts (unless the test command says otherwise) from 50 senders at
// once, with the receiver killed (SIGKILL) in the middle and started again:
// every acknowledged report is in the store exactly once, and so is every
// report sent again after the kill.
#include <gtest/gtest.h>

#include <cstdlib>
#include <thread>

#include "crash/form_encode.h"
#include "harness.h"
#include "load.h"
#include "store/store.h"

namespace ulrt {
namespace {

class Load : public ::testing::TestWithParam<std::string> {};

TEST_P(Load, KilledMidLoadLosesNothingAcknowledged) {
  const std::string folder = TestFolder("load-" + GetParam());
  const std::string store = FreshStore(GetParam(), "load", folder);
  // Every sender here is 127.0.0.1: no limits per sender.
  ReportsServer server(store, folder, "", {"--post-rate", "0", "--connections-per-address", "0"});
  ASSERT_TRUE(server.Start()) << server.Output();

  LoadPlan plan;
  plan.port = server.port();
  // The test command may ask for fewer (the PostgreSQL run in the suite does,
  // to stay within its time; the bench sends 20,000 to both stores).
  const char* posts = std::getenv("ULMET_REPORTS_LOAD_POSTS");
  plan.posts = posts != nullptr ? std::atoi(posts) : 20000;
  plan.senders = 50;
  plan.uidPrefix = "load";
  plan.timeLimitS = 100;
  std::atomic<int> acked{0};
  std::atomic<bool> finished{false};
  LoadResult result;
  std::thread load([&] {
    result = RunLoad(plan, &acked);
    finished = true;
  });
  while (acked < plan.posts * 2 / 5 && !finished) std::this_thread::sleep_for(std::chrono::milliseconds(5));
  const int ackedBeforeKill = acked;
  server.Kill();
  std::this_thread::sleep_for(std::chrono::milliseconds(300));
  const bool restarted = server.Restart();
  load.join();
  ASSERT_TRUE(restarted) << server.Output();
  std::printf("load: %d posts acknowledged (%d before the kill), %d attempts, %d unanswered, %d refused, "
              "%.1f s, %.0f posts/s, p50 %.1f ms, p99 %.1f ms\n",
              result.acknowledged, ackedBeforeKill, result.attempts, result.unanswered, result.refused,
              result.seconds, result.PerSecond(), result.PercentileMs(50), result.PercentileMs(99));
  EXPECT_EQ(result.acknowledged, plan.posts);
  EXPECT_GT(result.unanswered, 0) << "the kill did not interrupt any post";
  EXPECT_EQ(server.Stop(), 0) << server.Output();

  std::string error;
  auto s = ulr::OpenStore(store, false, &error);
  ASSERT_TRUE(s) << error;
  std::vector<int> seen(static_cast<std::size_t>(plan.posts), 0);
  int stored = 0, wrong = 0;
  std::vector<ulr::StoredReport> page;
  for (std::int64_t after = 0;; after = page.back().id) {
    ASSERT_TRUE(s->ReportsAfter(after, 0, 1000, &page, &error)) << error;
    if (page.empty()) break;
    for (const auto& r : page) {
      ++stored;
      const int i = std::atoi(r.form.uid.c_str() + 5);
      ASSERT_EQ(r.form.uid, LoadUid("load", i));
      ++seen[static_cast<std::size_t>(i)];
      const std::string log = LoadLog(i);
      if (r.form.conts != ToCrLf(log.data(), log.size())) ++wrong;
    }
  }
  EXPECT_EQ(stored, plan.posts);
  EXPECT_EQ(wrong, 0);
  int missing = 0, twice = 0;
  for (int i = 0; i < plan.posts; ++i) {
    missing += seen[static_cast<std::size_t>(i)] == 0 && result.acked[static_cast<std::size_t>(i)];
    twice += seen[static_cast<std::size_t>(i)] > 1;
  }
  EXPECT_EQ(missing, 0) << "acknowledged reports lost";
  EXPECT_EQ(twice, 0) << "reports stored more than once";
}

INSTANTIATE_TEST_SUITE_P(Stores, Load, ::testing::ValuesIn(StoreKinds()),
                         [](const auto& info) { return info.param; });

}  // namespace
}  // namespace ulrt
