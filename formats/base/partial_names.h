// The names a transfer gives its unfinished work, beside the file it is for.
// A client folder may hold them after a run that was stopped; they are
// never client files of their own, and the publisher never publishes them.
//
// No Windows headers here: the publisher's tool builds natively too.
#pragma once

#include "formats/base/bounded.h"

namespace ul {

constexpr char kDownloadPartialSuffix[] = "~dl";    // a whole download on its way
constexpr char kChunkPartialSuffix[] = "~part";     // a new file made chunk by chunk
constexpr char kChunkJournalSuffix[] = "~journal";  // which of those chunks were checked
// An earlier run's partial file, set aside while a build with a release key
// copies its checked chunks into a partial file made new.
constexpr char kChunkEarlierSuffix[] = "~earlier";
// The index a file was made by, kept beside it for the next transfer
// (formats/chunks/chunk_index.h, ParseKeptIndex).
constexpr char kKeptIndexSuffix[] = "~chunks";
// A patch on its way (formats/patches/patch_journal.h): its first bytes as
// they arrived, the journal that names it, and the new file it makes.
constexpr char kPatchPartialSuffix[] = "~patch";
constexpr char kPatchJournalSuffix[] = "~patchjournal";
constexpr char kPatchOutputSuffix[] = "~patched";

inline bool IsPartialName(const char* name) {
  return EndsWithNoCase(name, kDownloadPartialSuffix) || EndsWithNoCase(name, kChunkPartialSuffix) ||
         EndsWithNoCase(name, kChunkJournalSuffix) || EndsWithNoCase(name, kChunkEarlierSuffix) ||
         EndsWithNoCase(name, kKeptIndexSuffix) || EndsWithNoCase(name, kPatchPartialSuffix) ||
         EndsWithNoCase(name, kPatchJournalSuffix) || EndsWithNoCase(name, kPatchOutputSuffix);
}

}  // namespace ul
