#include "formats/chunks/transfer_plan.h"

#include <algorithm>
#include <cstring>

namespace ul {

namespace {

bool Before(const ChunkRecord* a, const ChunkRecord* b) {
  const int c = std::memcmp(a->sha256, b->sha256, kSha256Bytes);
  return c != 0 ? c < 0 : a->length < b->length;
}

// The installed chunks ordered by content, to find a chunk by its digest.
class InstalledChunks {
 public:
  explicit InstalledChunks(const std::vector<ChunkRecord>& chunks) {
    for (const ChunkRecord& c : chunks) sorted_.push_back(&c);
    std::sort(sorted_.begin(), sorted_.end(), Before);
  }
  const ChunkRecord* Find(const ChunkRecord& wanted) const {
    auto it = std::lower_bound(sorted_.begin(), sorted_.end(), &wanted, Before);
    return it != sorted_.end() && !Before(&wanted, *it) ? *it : nullptr;
  }

 private:
  std::vector<const ChunkRecord*> sorted_;
};

}  // namespace

bool PlanTransfer(const ChunkIndex& next, const std::vector<ChunkRecord>& installed,
                  const std::vector<bool>& checked, uint64_t maxRequestBytes, TransferPlan* plan) {
  *plan = TransferPlan();
  if ((!checked.empty() && checked.size() != next.chunks.size()) || maxRequestBytes < kChunkMaxBytes)
    return false;
  const InstalledChunks held(installed);
  plan->chunks.resize(next.chunks.size());
  for (std::size_t i = 0; i < next.chunks.size(); ++i) {
    const ChunkRecord& c = next.chunks[i];
    PlannedChunk& p = plan->chunks[i];
    const ChunkRecord* copy = nullptr;
    if (!checked.empty() && checked[i]) {
      p.source = kFromPartial;
      plan->keptBytes += c.length;
    } else if ((copy = held.Find(c)) != nullptr) {
      p.source = kFromInstalled;
      p.installedOffset = copy->offset;
      plan->copiedBytes += c.length;
    } else {
      p.source = kFromServer;
      plan->fetchedBytes += c.length;
      RangeRequest* last = plan->requests.empty() ? nullptr : &plan->requests.back();
      if (last != nullptr && last->firstChunk + last->chunkCount == i &&
          last->length + c.length <= maxRequestBytes) {
        last->length += c.length;
        ++last->chunkCount;
      } else {
        RangeRequest r;
        r.offset = c.offset;
        r.length = c.length;
        r.firstChunk = i;
        r.chunkCount = 1;
        plan->requests.push_back(r);
      }
    }
  }
  return true;
}

}  // namespace ul
