#include "store/committer.h"

#include <vector>

namespace ulr {

Committer::Committer(std::unique_ptr<ReportStore> store, std::size_t maxBatch, std::size_t maxWaiting)
    : store_(std::move(store)), maxBatch_(maxBatch), maxWaiting_(maxWaiting), writer_([this] { Run(); }) {}

Committer::~Committer() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    stopping_ = true;
  }
  work_.notify_all();
  writer_.join();
}

Committer::Outcome Committer::Submit(const NewReport& report, std::string* error) {
  Pending p;
  p.report = &report;
  std::unique_lock<std::mutex> lock(mutex_);
  if (stopping_ || queue_.size() >= maxWaiting_) {
    *error = stopping_ ? "the receiver is stopping" : "too many reports wait for the store";
    return Outcome::kFailed;
  }
  queue_.push_back(&p);
  work_.notify_one();
  done_.wait(lock, [&p] { return p.done; });
  *error = p.error;
  return p.outcome;
}

void Committer::Run() {
  std::vector<Pending*> batch;
  std::vector<const NewReport*> reports;
  std::vector<bool> added;
  for (;;) {
    {
      std::unique_lock<std::mutex> lock(mutex_);
      work_.wait(lock, [this] { return stopping_ || !queue_.empty(); });
      if (queue_.empty()) return;  // stopping, and nothing waits
      batch.clear();
      while (!queue_.empty() && batch.size() < maxBatch_) {
        batch.push_back(queue_.front());
        queue_.pop_front();
      }
    }
    reports.clear();
    for (Pending* p : batch) reports.push_back(p->report);
    std::string error;
    const bool ok = store_->Add(reports, &added, &error);
    {
      std::lock_guard<std::mutex> lock(mutex_);
      for (std::size_t i = 0; i < batch.size(); ++i) {
        Pending* p = batch[i];
        p->outcome = !ok ? Outcome::kFailed : added[i] ? Outcome::kStored : Outcome::kAlreadyStored;
        if (!ok) p->error = error;
        p->done = true;
      }
    }
    done_.notify_all();
  }
}

}  // namespace ulr
