// A linker's text map file as a table of where code lies: the simplest
// symbols a build can give. Two kinds are read:
//  - the GNU linker's (-Wl,-Map=FILE): the image base, every input section
//    of code with its object file, and the global symbols in it. Its
//    addresses are virtual, so it is used with its program's layout
//    (pe_layout.h);
//  - the Microsoft linker's (/MAP): the preferred load address and every
//    function symbol as section:offset, the crash log's own terms, so it
//    needs nothing beside it. Names stay decorated as the map gives them.
// A map knows where a function starts, not where it ends: an address is
// given to the last function starting at or before it, within the input
// section that holds it where the map says (GNU); file and line are never
// known from a map.
//
// The text is operator input: lines above kMaxMapLine characters are
// passed over, and a map of more than kMaxMapSymbols entries is refused.
// No network and no store here; it builds in the fuzz tree.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "symbols/pe_layout.h"

namespace ulr {

constexpr std::size_t kMaxMapLine = 4096;
constexpr std::size_t kMaxMapSymbols = 4000000;

struct MapEntry {
  std::uint64_t rva = 0;   // relative to the image base
  unsigned section = 0;    // Microsoft maps: the section number (from 1); GNU: 0
  std::uint32_t offset = 0;
  std::uint32_t size = 0;  // GNU input sections: their size; symbols: 0
  bool range = false;      // an input section (the name is its object file) rather than a symbol
  std::string name;
};

struct MapTable {
  bool sectioned = false;  // the Microsoft kind: entries carry section:offset
  std::uint64_t imageBase = 0;
  std::vector<MapEntry> entries;  // sorted by rva, ranges before symbols at the same place
};

enum class MapVerdict { kOk, kNotMap, kTooLarge };

MapVerdict ReadMapFile(std::string_view text, MapTable* out);

// The function that holds section:offset, and the offset in it. layout is
// the program's (null when only the map is there, which a GNU map cannot
// serve). False when the map names nothing there.
bool LookUpMap(const MapTable& map, const PeLayout* layout, unsigned section, std::uint32_t offset,
               std::string* function, std::uint32_t* functionOffset);

}  // namespace ulr
