// The journal of a patch on its way to a client: beside the update file
// NAME, the partial file "NAME~patch" (formats/base/partial_names.h) holds
// the first bytes of one patch, as they arrived, and "NAME~patchjournal"
// names that patch. A run that was stopped keeps the partial file for the
// next run that fetches the same patch, and fetches only the rest; the
// whole patch is checked against its SHA-256 before it is applied.
//
// Journal (text, one line): "ulmet-patch-journal 1 <SHA-256> <size>\n",
// the patch's, as the patch list has them.
//
// No Windows headers here: this builds natively for the sanitizer runs.
#pragma once

#include <cstddef>
#include <string>

#include "formats/patches/patch_list.h"

namespace ul {

// A journal longer than this is not one of this program's.
constexpr std::size_t kPatchJournalMaxBytes = 128;

std::string FormatPatchJournal(const PatchEntry& patch);

// Whether the journal's bytes name exactly patch.
bool PatchJournalNames(const char* data, std::size_t size, const PatchEntry& patch);

}  // namespace ul
