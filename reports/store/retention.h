// Reports are kept for a number of days: older ones are removed by the
// operator's command (ulmet-reports prune) or by serve itself
// (--keep-days), in small transactions so that receivers writing at the
// same time wait little.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <string>
#include <thread>

#include "store/store.h"

namespace ulr {

constexpr std::int64_t kDayMs = 24LL * 60 * 60 * 1000;

// Removes the reports received more than days before nowMs; the number
// removed, or -1 with *error (those removed before the failure stay so).
std::int64_t RemoveOlderThan(ReportStore& store, int days, std::int64_t nowMs, std::string* error);

// serve --keep-days: removes what is older at start and every hour after,
// on a thread with a store connection of its own.
class Retention {
 public:
  Retention(std::string address, int days);
  ~Retention();  // stops after the transaction in hand
  Retention(const Retention&) = delete;
  Retention& operator=(const Retention&) = delete;

 private:
  void Run();
  bool Stopping(std::chrono::milliseconds wait);

  const std::string address_;
  const int days_;
  std::mutex mutex_;
  std::condition_variable wake_;
  bool stopping_ = false;
  std::thread thread_;
};

}  // namespace ulr
