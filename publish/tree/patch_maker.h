// Binary patches as the publisher makes them (formats/patches/patch_list.h):
// one zstd frame of the new file with the base as the encoder's prefix, at
// level 22 where the memory budget allows it and 19 otherwise, a window
// that covers the larger file (at most 2^28), long-distance matching on,
// the new file's size and a checksum in the frame.
//
// Level 22 makes patches of big executables a third to a half smaller than
// level 19, but takes some 14 times the larger file in memory and minutes of
// processor time per 100 MB. Both files are mapped, never copied; the budget
// bounds what the encoder takes beyond them, and a deadline the wall clock
// time: the new file is handed to the encoder 1 MiB at a time and the clock
// is looked at in between.
#pragma once

#include <cstdint>
#include <filesystem>

#include "formats/trust/release_manifest.h"

namespace ulp {

struct PatchBudget {
  unsigned seconds = 1800;                // wall clock for one patch
  uint64_t memoryBytes = uint64_t{2048} << 20;  // the encoder's tables and buffers
};

// What MakePatch ends with.
enum PatchResult {
  kPatchMade = 0,
  kPatchTooBig,       // the base or the new file is over ul::kPatchMaxFileBytes
  kPatchOverBudget,   // even level 19 needs more memory than the budget
  kPatchTooSlow,      // the deadline passed first
  kPatchFailed,       // a file could not be read or written, or the encoder failed
};

struct MadePatch {
  int level = 0;
  uint64_t memoryBytes = 0;  // the encoder's estimate for that level
  double seconds = 0;
  uint64_t size = 0;
  uint8_t sha256[ul::kSha256Bytes] = {0};
};

// The window log of a patch between files of these sizes: the smallest
// that covers the larger one.
unsigned PatchWindowLog(uint64_t baseSize, uint64_t size);

// What the encoder takes at level for a patch between files of these sizes.
uint64_t PatchMemory(int level, uint64_t baseSize, uint64_t size);

// Makes the patch that turns base into target and writes it to out (made
// new). One of PatchResult; a patch half-made is removed.
int MakePatch(const std::filesystem::path& base, const std::filesystem::path& target,
              const std::filesystem::path& out, const PatchBudget& budget, MadePatch* made);

// Why no patch was made, in words for the notes.
const char* PatchRefusal(int result);

}  // namespace ulp
