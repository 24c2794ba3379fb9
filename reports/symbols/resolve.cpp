#include "symbols/resolve.h"

#include <set>

#include "receive/answers.h"
#include "store/signature.h"
#include "symbols/symbol_files.h"

namespace ulr {

namespace {

constexpr int kBatch = 500;
constexpr auto kResolverPause = std::chrono::seconds(2);

bool SamePlace(const CrashPlace& a, const CrashPlace& b) {
  return LowerName(a.module) == LowerName(b.module) && a.section == b.section && a.offset == b.offset;
}

bool ResolveBatch(ReportStore& store, Symbolizer& symbolizer, const std::vector<StoredReport>& reports, int top,
                  std::string* error) {
  std::vector<std::vector<CrashPlace>> places;
  for (const StoredReport& r : reports) places.push_back(ReadCrashPlaces(r.form.conts));
  std::vector<std::vector<Resolved>> frames;
  if (!symbolizer.Resolve(places, &frames, error)) return false;
  std::vector<Resolution> batch(reports.size());
  for (std::size_t i = 0; i < reports.size(); ++i) {
    batch[i].reportId = reports[i].id;
    batch[i].resolved = WriteResolved(frames[i]);
    batch[i].signature = ResolvedSignature(reports[i], places[i], frames[i], top);
    batch[i].stamp = symbolizer.stamp();
  }
  return store.SetResolved(batch, error);
}

}  // namespace

bool SignatureFrames(ReportStore& store, int* frames, std::string* error) {
  std::string value;
  if (!store.Setting(kSignatureFramesSetting, &value, error)) return false;
  const int n = value.empty() ? kDefaultSignatureFrames : std::atoi(value.c_str());
  *frames = n < 0 ? 0 : n > kMaxSignatureFrames ? kMaxSignatureFrames : n;
  return true;
}

SignatureSummary ResolvedSignature(const StoredReport& report, const std::vector<CrashPlace>& places,
                                   const std::vector<Resolved>& frames, int topFrames) {
  SignatureSummary s;
  s.fmod = report.form.fmod;
  s.fadd = report.form.fadd;
  s.lmod = report.form.lmod;
  s.ladd = report.form.ladd;
  s.firstMs = report.receivedMs;
  if (places.empty() || !places[0].fault || frames.size() != places.size() || frames[0].function.empty()) return s;
  std::string key = "functions\n";
  int taken = -1;  // the fault itself is not one of the top frames
  for (std::size_t j = 0; j < places.size() && taken < topFrames; ++j) {
    if (j == 1 && SamePlace(places[0], places[1])) continue;  // the stack's first line is the fault again
    s.functions += places[j].module + "\t" + frames[j].function + "\n";
    key += LowerName(places[j].module) + "\t" + frames[j].function + "\n";
    ++taken;
  }
  s.id = SignatureId(key);
  return s;
}

std::int64_t ResolveReports(ReportStore& store, Symbolizer& symbolizer, const std::string& version,
                            std::string* error, const std::atomic<bool>* stop) {
  std::vector<SymbolFile> files;
  int top = 0;
  if (!store.SymbolFiles(version, &files, error) || !SignatureFrames(store, &top, error)) return -1;
  std::set<std::string> versions;
  for (const SymbolFile& f : files) versions.insert(f.version);
  std::int64_t resolved = 0;
  for (const std::string& v : versions) {
    std::vector<StoredReport> reports;
    std::int64_t after = 0;
    // The symbols are made ready only for a version with work waiting:
    // serve looks every few seconds, mostly to find nothing.
    if (!store.UnresolvedReports(v, after, kBatch, &reports, error)) return -1;
    if (!reports.empty() && !symbolizer.Load(store, v, error)) return -1;
    while (!reports.empty()) {
      if (stop != nullptr && *stop) return resolved;
      if (!ResolveBatch(store, symbolizer, reports, top, error)) return -1;
      resolved += static_cast<std::int64_t>(reports.size());
      after = reports.back().id;
      if (reports.size() < static_cast<std::size_t>(kBatch)) break;
      if (!store.UnresolvedReports(v, after, kBatch, &reports, error)) return -1;
    }
  }
  return resolved;
}

Resolver::Resolver(std::string address) : address_(std::move(address)), thread_([this] { Run(); }) {}

Resolver::~Resolver() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    stopping_ = true;
  }
  wake_.notify_all();
  thread_.join();
}

void Resolver::Run() {
  std::unique_ptr<ReportStore> store;
  Symbolizer symbolizer;
  std::string error, failed;
  while (!stopping_) {
    if (!store) store = OpenStore(address_, false, &error);
    const std::int64_t n = store ? ResolveReports(*store, symbolizer, "", &error, &stopping_) : -1;
    if (n > 0) Log("resolved " + std::to_string(n) + " reports with their symbols");
    if (n < 0 && error != failed) Log("symbols: " + error);  // said once, not every few seconds
    failed = n < 0 ? error : std::string();
    if (n < 0) store.reset();
    std::unique_lock<std::mutex> lock(mutex_);
    wake_.wait_for(lock, kResolverPause, [this] { return stopping_.load(); });
  }
}

}  // namespace ulr
