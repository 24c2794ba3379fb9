#include "store/retention.h"

#include <chrono>
#include <cstdio>

namespace ulr {

namespace {

// Reports removed in one transaction.
constexpr int kBatch = 500;
constexpr auto kEvery = std::chrono::hours(1);

std::int64_t NowMs() {
  return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::system_clock::now().time_since_epoch())
      .count();
}

}  // namespace

std::int64_t RemoveOlderThan(ReportStore& store, int days, std::int64_t nowMs, std::string* error) {
  const std::int64_t before = nowMs - days * kDayMs;
  std::int64_t total = 0, removed = kBatch;
  while (removed == kBatch) {
    if (!store.RemoveBefore(before, kBatch, &removed, error)) return -1;
    total += removed;
  }
  return total;
}

Retention::Retention(std::string address, int days)
    : address_(std::move(address)), days_(days), thread_([this] { Run(); }) {}

Retention::~Retention() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    stopping_ = true;
  }
  wake_.notify_all();
  thread_.join();
}

bool Retention::Stopping(std::chrono::milliseconds wait) {
  std::unique_lock<std::mutex> lock(mutex_);
  return wake_.wait_for(lock, wait, [this] { return stopping_; });
}

void Retention::Run() {
  do {
    std::string error;
    auto store = OpenStore(address_, false, &error);
    const std::int64_t removed = store ? RemoveOlderThan(*store, days_, NowMs(), &error) : -1;
    if (removed < 0)
      std::fprintf(stderr, "ulmet-reports: removing reports older than %d days failed: %s\n", days_, error.c_str());
    else if (removed > 0)
      std::fprintf(stderr, "ulmet-reports: removed %lld reports older than %d days\n",
                   static_cast<long long>(removed), days_);
  } while (!Stopping(std::chrono::duration_cast<std::chrono::milliseconds>(kEvery)));
}

}  // namespace ulr
