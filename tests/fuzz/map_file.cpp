// A linker's map over any bytes: a table only from a map of one of the two
// kinds, its entries in order and within the limit, and every look-up
// answers with an entry at or before the place, within its input section.
#include "symbols/map_file.h"

#include <string>

#include "fuzz_support.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);
  ulr::MapTable map;
  if (ulr::ReadMapFile(text, &map) != ulr::MapVerdict::kOk) {
    FUZZ_CHECK(map.entries.empty(), "a refused map keeps entries");
    return 0;
  }
  FUZZ_CHECK(map.entries.size() <= ulr::kMaxMapSymbols, "too many entries");
  for (std::size_t i = 1; i < map.entries.size(); ++i)
    FUZZ_CHECK(map.entries[i - 1].rva <= map.entries[i].rva, fuzz::Shown(text));
  ulr::PeLayout layout;
  layout.sections.push_back({".text", 0x1000, 0x100000});
  layout.sections.push_back({".data", 0x200000, 0x1000});
  for (std::uint32_t offset : {0u, 1u, 0x5b3u, 0xFFFFu, 0xFFFFFFFFu}) {
    for (unsigned section : {1u, 2u, 3u}) {
      std::string function;
      std::uint32_t at = 0;
      if (ulr::LookUpMap(map, &layout, section, offset, &function, &at)) {
        FUZZ_CHECK(section <= 2 && at <= std::uint64_t{layout.sections[section - 1].rva} + offset, fuzz::Shown(text));
      }
      if (ulr::LookUpMap(map, nullptr, section, offset, &function, &at)) {
        FUZZ_CHECK(map.sectioned && at <= offset, fuzz::Shown(text));
      }
    }
  }
  return 0;
}
