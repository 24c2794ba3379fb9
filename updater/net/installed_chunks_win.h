// The chunks of a file's installed copy, cut by the same builder as the
// publisher's indexes (formats/chunks/chunk_index.h): where its bytes hold a
// chunk of the new file, the transfer copies that chunk instead of fetching
// it.
#pragma once

#include <vector>

#include "formats/chunks/chunk_index.h"

namespace ul {
class OffsetFile;
}

// One pass over file, one piece of the largest chunk's size in memory.
// False when it cannot be read to its end.
bool ChunksOfInstalledCopy(ul::OffsetFile& file, std::vector<ul::ChunkRecord>* out);
