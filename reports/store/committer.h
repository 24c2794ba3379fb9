// Group commit: the receiver's threads hand their reports to one writer,
// which stores whatever has gathered in one transaction and then wakes each
// sender with its outcome. One sync serves many posts, and every post is
// answered only after its report is on disk.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "store/store.h"

namespace ulr {

class Committer {
 public:
  enum class Outcome { kStored, kAlreadyStored, kFailed };

  // Takes the store for its writer thread alone. maxBatch bounds one
  // transaction; maxWaiting bounds the reports waiting for it (a post
  // beyond that is refused at once rather than queued without end).
  Committer(std::unique_ptr<ReportStore> store, std::size_t maxBatch, std::size_t maxWaiting);
  ~Committer();  // stores what waits, then ends the writer
  Committer(const Committer&) = delete;
  Committer& operator=(const Committer&) = delete;

  // Blocks until the report is stored (or the store failed); *error says
  // why it failed.
  Outcome Submit(const NewReport& report, std::string* error);

 private:
  struct Pending {
    const NewReport* report = nullptr;
    bool done = false;
    Outcome outcome = Outcome::kFailed;
    std::string error;
  };
  void Run();

  std::unique_ptr<ReportStore> store_;
  const std::size_t maxBatch_, maxWaiting_;
  std::mutex mutex_;
  std::condition_variable work_, done_;
  std::deque<Pending*> queue_;
  bool stopping_ = false;
  std::thread writer_;
};

}  // namespace ulr
