// Where each chunk of a new file comes from: the partial file of an earlier
// run that checked it already, the installed copy that holds the same bytes,
// or the server. The chunks to fetch are joined into range requests where
// they lie next to each other in the new file.
//
// No Windows headers here: this builds natively for the sanitizer runs.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "formats/chunks/chunk_index.h"

namespace ul {

// The most one range request asks for: four of the largest chunks, some
// sixteen average ones, so that a connection that breaks costs little and
// the journal keeps up, while a request's own cost stays small.
constexpr uint64_t kRangeRequestMaxBytes = 4u << 20;

enum ChunkSource {
  kFromPartial = 0,    // already in the partial file, checked
  kFromInstalled = 1,  // copied from the installed copy at installedOffset
  kFromServer = 2,     // fetched, in one of the plan's requests
};

struct PlannedChunk {
  int source = kFromServer;
  uint64_t installedOffset = 0;
};

struct RangeRequest {
  uint64_t offset = 0;
  uint64_t length = 0;
  std::size_t firstChunk = 0;
  std::size_t chunkCount = 0;
};

struct TransferPlan {
  std::vector<PlannedChunk> chunks;    // one per chunk of the new file
  std::vector<RangeRequest> requests;  // in the new file's order
  uint64_t keptBytes = 0;
  uint64_t copiedBytes = 0;
  uint64_t fetchedBytes = 0;
};

// Plans the new file of index next. installed: the chunks the installed copy
// holds (its own chunking, or a record that vouches for it), empty when
// there is none; a chunk counts as held when one of them has its length and
// SHA-256. checked: the journal's bits for next, or empty. A request asks
// for at most maxRequestBytes, but always for whole chunks. False, and the
// plan empty, when checked is not empty and not of next's chunk count, or
// maxRequestBytes is below the largest chunk.
bool PlanTransfer(const ChunkIndex& next, const std::vector<ChunkRecord>& installed,
                  const std::vector<bool>& checked, uint64_t maxRequestBytes, TransferPlan* plan);

}  // namespace ul
