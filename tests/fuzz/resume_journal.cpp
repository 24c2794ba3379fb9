// The resume journal over any bytes, and the transfer plan it feeds.
// Besides memory safety: a journal is read only when it is exactly the
// bytes the writer makes of what was read, and a refused one leaves nothing
// behind; a plan of an index (made of the input's chunks) with the journal's
// bits accounts for every byte once, keeps exactly the checked chunks and
// asks for whole chunks within the request bound.
#include <string>
#include <vector>

#include "formats/chunks/resume_journal.h"
#include "formats/chunks/transfer_plan.h"
#include "fuzz_support.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  ul::ResumeJournal journal;
  if (!ul::ParseJournal(data, size, &journal)) {
    FUZZ_CHECK(journal.checked.empty() && journal.size == 0, std::to_string(size));
    return 0;
  }
  const std::string again = ul::FormatJournal(journal);
  FUZZ_CHECK(again == std::string(reinterpret_cast<const char*>(data), size), std::to_string(size));

  // An index with one chunk per bit; the digests repeat, so that some are
  // held by the "installed copy" made of every third one.
  ul::ChunkIndex index;
  std::vector<ul::ChunkRecord> installed;
  for (std::size_t i = 0; i < journal.checked.size() && i < 4096; ++i) {
    ul::ChunkRecord c;
    c.offset = index.size;
    c.length = ul::kChunkMinBytes + static_cast<uint32_t>(i % 5) * 100000;
    c.sha256[0] = static_cast<uint8_t>(i % 7);
    index.chunks.push_back(c);
    index.size += c.length;
    if (i % 3 == 0) installed.push_back(c);
  }
  std::vector<bool> checked(journal.checked.begin(), journal.checked.begin() + index.chunks.size());
  ul::TransferPlan plan;
  FUZZ_CHECK(ul::PlanTransfer(index, installed, checked, ul::kRangeRequestMaxBytes, &plan), "plan");
  FUZZ_CHECK(plan.keptBytes + plan.copiedBytes + plan.fetchedBytes == index.size, "every byte once");
  uint64_t requested = 0;
  for (const ul::RangeRequest& r : plan.requests) {
    FUZZ_CHECK(r.length <= ul::kRangeRequestMaxBytes && r.chunkCount >= 1, "bounded");
    FUZZ_CHECK(r.offset == index.chunks[r.firstChunk].offset, "whole chunks");
    for (std::size_t i = r.firstChunk; i < r.firstChunk + r.chunkCount; ++i)
      FUZZ_CHECK(plan.chunks[i].source == ul::kFromServer, "fetched");
    requested += r.length;
  }
  FUZZ_CHECK(requested == plan.fetchedBytes, "requests cover the fetched chunks");
  for (std::size_t i = 0; i < index.chunks.size(); ++i)
    FUZZ_CHECK((plan.chunks[i].source == ul::kFromPartial) == checked[i], std::to_string(i));
  return 0;
}
