// Reports resolved with their version's symbols, and the signatures that
// survive a rebuild: with symbols, a report's signature is its faulting
// function and the functions of the stack's top frames (how many: the
// store's setting "signature-frames", 3 unless set), not the offsets,
// which move with every build. A report whose fault the symbols cannot
// name keeps its raw signature.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "store/store.h"
#include "symbols/crash_stack.h"
#include "symbols/symbolizer.h"

namespace ulr {

constexpr char kSignatureFramesSetting[] = "signature-frames";
constexpr int kDefaultSignatureFrames = 3;
constexpr int kMaxSignatureFrames = 16;

// The setting, or the default when the store has none.
bool SignatureFrames(ReportStore& store, int* frames, std::string* error);

// The signature of a report whose places resolved so: its functions
// ("module\tfunction" lines, the fault's first; a frame the symbols cannot
// name counts by its module alone) and their number. Without the fault's
// function, functions is empty: the raw signature stays.
SignatureSummary ResolvedSignature(const StoredReport& report, const std::vector<CrashPlace>& places,
                                   const std::vector<Resolved>& frames, int topFrames);

// Resolves the reports of version (of every version with symbols when
// empty) that are not resolved since their symbols last changed; the
// number resolved, or -1 with *error. stop (when given) ends it between
// batches.
std::int64_t ResolveReports(ReportStore& store, Symbolizer& symbolizer, const std::string& version,
                            std::string* error, const std::atomic<bool>* stop = nullptr);

// serve: resolves what arrives, and what its symbols' change left to do,
// every few seconds on a thread with a store connection of its own.
class Resolver {
 public:
  explicit Resolver(std::string address);
  ~Resolver();  // stops after the batch in hand
  Resolver(const Resolver&) = delete;
  Resolver& operator=(const Resolver&) = delete;

 private:
  void Run();

  const std::string address_;
  std::atomic<bool> stopping_{false};
  std::mutex mutex_;
  std::condition_variable wake_;
  std::thread thread_;
};

}  // namespace ulr
