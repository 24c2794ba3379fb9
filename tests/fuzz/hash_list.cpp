// The hash list reader over any bytes. Besides memory safety: every entry
// has a non-zero number, fields without ':' that fit their sizes, status 0,
// a file name and a folder that passed the early refusals, and the result
// says whether anything was read.
#include "formats/lists/hash_list.h"

#include <cstring>
#include <string>
#include <vector>

#include "formats/base/safe_path.h"
#include "fuzz_support.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  fuzz::ByteStream in(data, size);
  HashList list;
  const bool any = ParseHashList(in.get(), &list);
  const std::vector<HashEntry>& entries = list.entries;
  const std::string text(reinterpret_cast<const char*>(data), size);
  FUZZ_CHECK(any == !entries.empty(), text);
  for (const HashEntry& e : entries) {
    const std::string line = std::string(e.fileName) + "|" + e.digestHex + "|" + e.subPath;
    FUZZ_CHECK(e.entryNumber != 0, line);
    FUZZ_CHECK(e.status == 0, line);
    FUZZ_CHECK(std::strlen(e.digestHex) <= 32, line);
    FUZZ_CHECK(e.fileName[0] != '\0' && e.subPath[0] != '\0' && e.digestHex[0] != '\0', line);
    for (const char* field : {e.fileName, e.digestHex, e.subPath}) {
      FUZZ_CHECK(std::strchr(field, ':') == nullptr && std::strchr(field, '\n') == nullptr, line);
    }
    FUZZ_CHECK(ul::IsSafeRelativePath(e.fileName), line);
    FUZZ_CHECK(ul::StaysInsideFolder(e.subPath), line);
  }
  return 0;
}
