// Cuts the body of one range request back into the chunks it was asked for
// and checks each against the index before anything of it is written: a
// chunk whose bytes differ from its digest never reaches the new file.
//
//   RangeAssembler in(index, request, sink);
//   in.Take(bytes, n); ...            // as the body arrives, in pieces of any size
//   in.Complete()                     // every chunk of the request checked and handed on
//
// No Windows headers here: this builds natively for the sanitizer runs.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "formats/chunks/chunk_index.h"
#include "formats/chunks/transfer_plan.h"

namespace ul {

// Takes the checked chunks, in order.
class CheckedChunkSink {
 public:
  virtual ~CheckedChunkSink() = default;
  // chunk: its number in the index. False stops the assembly.
  virtual bool ChunkChecked(std::size_t chunk, const uint8_t* data, uint32_t length) = 0;
};

class RangeAssembler {
 public:
  // request must lie in index (as PlanTransfer makes them).
  RangeAssembler(const ChunkIndex& index, const RangeRequest& request, CheckedChunkSink& sink);
  RangeAssembler(const RangeAssembler&) = delete;
  RangeAssembler& operator=(const RangeAssembler&) = delete;

  // False once a chunk failed its digest, the sink refused one, or more
  // bytes came than the request asked for; every later call fails too.
  bool Take(const void* data, std::size_t n);

  bool Complete() const { return ok_ && next_ == end_; }
  // A chunk arrived with other bytes than its digest says.
  bool BadChunk() const { return badChunk_; }
  // Chunks checked and handed on so far.
  std::size_t chunksDone() const { return next_ - first_; }

 private:
  bool EndChunk();

  const ChunkIndex& index_;
  CheckedChunkSink& sink_;
  std::size_t first_;
  std::size_t next_;  // the chunk being filled
  std::size_t end_;
  std::vector<uint8_t> buffer_;
  uint32_t filled_ = 0;
  bool ok_ = true;
  bool badChunk_ = false;
};

}  // namespace ul
