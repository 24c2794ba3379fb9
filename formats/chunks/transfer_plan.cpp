#include "formats/chunks/transfer_plan.h"

#include <algorithm>
#include <cstring>

namespace ul {

namespace {

bool SameContent(const ChunkRecord* a, const ChunkRecord* b) {
  return a->length == b->length && std::memcmp(a->sha256, b->sha256, kSha256Bytes) == 0;
}

bool Before(const ChunkRecord* a, const ChunkRecord* b) {
  const int c = std::memcmp(a->sha256, b->sha256, kSha256Bytes);
  if (c != 0) return c < 0;
  return a->length != b->length ? a->length < b->length : a->offset < b->offset;
}

// The installed chunks ordered by content, to find a chunk by its digest.
class InstalledChunks {
 public:
  explicit InstalledChunks(const std::vector<ChunkRecord>& chunks) {
    for (const ChunkRecord& c : chunks) sorted_.push_back(&c);
    std::sort(sorted_.begin(), sorted_.end(), Before);
  }
  // Where the copy holds the same content at several offsets, the one at
  // the wanted chunk's own offset: a file whose unchanged chunks all stay
  // where they are can be changed in place.
  const ChunkRecord* Find(const ChunkRecord& wanted) const {
    auto it = std::lower_bound(sorted_.begin(), sorted_.end(), &wanted, Before);
    if (it != sorted_.end() && SameContent(*it, &wanted) && (*it)->offset == wanted.offset) return *it;
    ChunkRecord first = wanted;
    first.offset = 0;
    it = std::lower_bound(sorted_.begin(), sorted_.end(), &first, Before);
    return it != sorted_.end() && SameContent(*it, &wanted) ? *it : nullptr;
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
