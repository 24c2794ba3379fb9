// A big file changed in place: where the new file keeps the installed
// copy's size and every chunk it shares with it at the same offset (a few
// chunks changed, nothing inserted or cut), only the changed chunks are
// written, into the installed copy itself, instead of a whole new copy
// beside it. On a 2 GB pack with 1 MB changed that is 1 MB written instead
// of 2 GB, and no room for a second copy needed.
//
// The changed chunks still arrive in the partial file first, each checked
// and marked in the journal as ever, so that a run that fails while they
// arrive leaves the installed copy as it was. Only once every one of them
// is there are they written over the installed copy, each checked once
// more as it is read back. The whole file's chained digest is then read
// from what the installed copy holds, and must be the hash list's. A run
// ended while the chunks are written leaves a file that is neither: the
// record no longer vouches for it (its time changed), the next start reads
// it, finds it differs, and the transfer cuts it and writes what is still
// missing, from the partial file the run left.
//
// Only without a release key: a build with one never writes into a file
// that was there before (a link planted under its name would be written
// through), and keeps making new copies.
#pragma once

#include <cstdint>
#include <vector>

#include "formats/chunks/chunk_index.h"
#include "formats/chunks/transfer_plan.h"
#include "formats/trust/file_hasher.h"

namespace ul {
class OffsetFile;
}

// Whether the plan lets the file change in place: the same size, every
// chunk copied from the installed copy at its own offset, and at least half
// of the file kept so (else a new copy costs no more).
bool InPlaceFits(const ul::ChunkIndex& index, const ul::TransferPlan& plan, uint64_t installedSize);

// Writes every chunk the plan does not leave where it is from partial into
// installed, each checked against the index first, then reads installed
// whole for its chained digest. piece holds one largest chunk. Null, or
// why not (the installed copy may then be changed in part).
const char* ApplyInPlace(const ul::ChunkIndex& index, const ul::TransferPlan& plan, ul::OffsetFile& partial,
                         ul::OffsetFile& installed, std::vector<uint8_t>& piece,
                         char (&md5Hex)[ChainedDigest::kDigestChars + 1]);
