#include "symbols/map_file.h"

#include <algorithm>
#include <cstdlib>

namespace ulr {

namespace {

bool IsHex(char c) { return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F'); }

// The blank-separated words of a line.
std::vector<std::string_view> Words(std::string_view line) {
  std::vector<std::string_view> words;
  std::size_t i = 0;
  while (i < line.size() && words.size() < 16) {
    while (i < line.size() && (line[i] == ' ' || line[i] == '\t')) ++i;
    const std::size_t start = i;
    while (i < line.size() && line[i] != ' ' && line[i] != '\t') ++i;
    if (i > start) words.push_back(line.substr(start, i - start));
  }
  return words;
}

// A hexadecimal number of 1 to 16 digits, with or without "0x".
bool Hex(std::string_view word, std::uint64_t* value) {
  if (word.size() > 2 && word[0] == '0' && (word[1] == 'x' || word[1] == 'X')) word.remove_prefix(2);
  if (word.empty() || word.size() > 16) return false;
  std::uint64_t v = 0;
  for (char c : word) {
    if (!IsHex(c)) return false;
    v = v << 4 | static_cast<std::uint64_t>(c <= '9' ? c - '0' : (c | 0x20) - 'a' + 10);
  }
  *value = v;
  return true;
}

// The first word of text as a hexadecimal number; false when there is none.
bool FirstHex(std::string_view text, std::uint64_t* value) {
  const std::vector<std::string_view> w = Words(text);
  return !w.empty() && Hex(w.front(), value);
}

// Lines without their ends, each handed to take until it says stop.
template <typename F>
void EachLine(std::string_view text, F take) {
  std::size_t at = 0;
  while (at < text.size()) {
    std::size_t end = text.find('\n', at);
    if (end == std::string_view::npos) end = text.size();
    std::string_view line = text.substr(at, end - at);
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    at = end + 1;
    if (line.size() <= kMaxMapLine && !take(line)) return;
  }
}

struct GnuState {
  bool inCode = false;     // the input section being listed holds code
  bool pendingName = false;  // its addresses follow on the next line
};

// One line of a GNU map after "Linker script and memory map".
void GnuLine(std::string_view line, GnuState* s, MapTable* out) {
  const std::vector<std::string_view> w = Words(line);
  std::uint64_t a = 0, b = 0;
  if (line.size() > 1 && line[0] == ' ' && line[1] == '.') {  // " .text  0xADDR  0xSIZE  file.o"
    s->inCode = w[0].rfind(".text", 0) == 0;
    s->pendingName = w.size() == 1;
    if (w.size() >= 4 && s->inCode && Hex(w[1], &a) && Hex(w[2], &b) && a != 0 && b != 0)
      out->entries.push_back({a, 0, 0, static_cast<std::uint32_t>(b), true, std::string(w[3])});
    return;
  }
  if (line.empty() || line[0] != ' ' || w.empty() || !Hex(w[0], &a)) {
    if (!line.empty() && line[0] != ' ') s->inCode = false;  // an output section or a heading
    s->pendingName = false;
    return;
  }
  if (w.size() >= 3 && Hex(w[1], &b)) {  // the addresses of a long input section name
    if (s->pendingName && s->inCode && a != 0 && b != 0)
      out->entries.push_back({a, 0, 0, static_cast<std::uint32_t>(b), true, std::string(w[2])});
  } else if (w.size() >= 2 && s->inCode && a != 0 && line.find(" = ") == std::string_view::npos &&
             w[1] != "PROVIDE" && w[1].rfind("PROVIDE (", 0) != 0) {
    const std::size_t name = line.find(w[1]);
    out->entries.push_back({a, 0, 0, 0, false, std::string(line.substr(name))});
  }
  s->pendingName = false;
}

MapVerdict ReadGnu(std::string_view text, MapTable* out) {
  bool started = false;
  GnuState state;
  EachLine(text, [&](std::string_view line) {
    if (!started) {
      started = line.rfind("Linker script and memory map", 0) == 0;
      return true;
    }
    const std::size_t base = line.find("__image_base__ = ");
    std::uint64_t v = 0;
    if (base != std::string_view::npos && FirstHex(line.substr(base + 17), &v)) out->imageBase = v;
    GnuLine(line, &state, out);
    return out->entries.size() <= kMaxMapSymbols;
  });
  if (out->entries.size() > kMaxMapSymbols) return MapVerdict::kTooLarge;
  if (!started || out->imageBase == 0) return MapVerdict::kNotMap;
  // The map's addresses are virtual; the table's are relative to the base.
  std::vector<MapEntry> relative;
  for (MapEntry& e : out->entries) {
    if (e.rva < out->imageBase) continue;
    e.rva -= out->imageBase;
    relative.push_back(std::move(e));
  }
  out->entries.swap(relative);
  return MapVerdict::kOk;
}

// " 0001:000005b0       ?CrashHere@@YAXH@Z         004015b0 f   crashme.obj"
void MicrosoftLine(std::string_view line, MapTable* out) {
  const std::vector<std::string_view> w = Words(line);
  std::uint64_t section = 0, offset = 0, va = 0;
  if (w.size() < 4 || w[0].size() != 13 || w[0][4] != ':' || w[3] != "f") return;
  if (!Hex(w[0].substr(0, 4), &section) || !Hex(w[0].substr(5), &offset) || !Hex(w[2], &va) || section == 0) return;
  if (va < out->imageBase) return;
  out->entries.push_back({va - out->imageBase, static_cast<unsigned>(section), static_cast<std::uint32_t>(offset), 0,
                          false, std::string(w[1])});
}

MapVerdict ReadMicrosoft(std::string_view text, MapTable* out) {
  bool based = false;
  out->sectioned = true;
  EachLine(text, [&](std::string_view line) {
    const std::size_t at = line.find("Preferred load address is ");
    std::uint64_t v = 0;
    if (!based && at != std::string_view::npos && FirstHex(line.substr(at + 26), &v)) {
      out->imageBase = v;
      based = true;
    } else if (based) {
      MicrosoftLine(line, out);
    }
    return out->entries.size() <= kMaxMapSymbols;
  });
  if (out->entries.size() > kMaxMapSymbols) return MapVerdict::kTooLarge;
  return based ? MapVerdict::kOk : MapVerdict::kNotMap;
}

// GNU maps: every symbol kept only inside the input section of code that
// holds it, with its size the rest of that section, so that a look-up is
// one search.
void Bound(MapTable* map) {
  std::vector<MapEntry> kept;
  std::uint64_t start = 0, end = 0;
  for (MapEntry& e : map->entries) {
    if (e.range) {
      start = e.rva;
      end = e.rva + e.size;
    } else if (e.rva >= start && e.rva < end) {
      e.size = static_cast<std::uint32_t>(end - e.rva);
    } else {
      continue;
    }
    kept.push_back(std::move(e));
  }
  map->entries.swap(kept);
}

}  // namespace

MapVerdict ReadMapFile(std::string_view text, MapTable* out) {
  *out = MapTable();
  const std::size_t head = text.size() < 65536 ? text.size() : 65536;
  const bool microsoft = text.substr(0, head).find("Preferred load address is ") != std::string_view::npos;
  const MapVerdict v = microsoft ? ReadMicrosoft(text, out) : ReadGnu(text, out);
  if (v != MapVerdict::kOk) {
    *out = MapTable();
    return v;
  }
  std::stable_sort(out->entries.begin(), out->entries.end(), [](const MapEntry& a, const MapEntry& b) {
    return a.rva != b.rva ? a.rva < b.rva : a.range && !b.range;
  });
  if (!out->sectioned) Bound(out);
  return MapVerdict::kOk;
}

bool LookUpMap(const MapTable& map, const PeLayout* layout, unsigned section, std::uint32_t offset,
               std::string* function, std::uint32_t* functionOffset) {
  const MapEntry* found = nullptr;
  std::uint64_t rva = 0;
  if (layout != nullptr && SectionRva(*layout, section, offset, &rva)) {
    const auto after = std::upper_bound(map.entries.begin(), map.entries.end(), rva,
                                        [](std::uint64_t v, const MapEntry& e) { return v < e.rva; });
    if (after != map.entries.begin()) found = &*(after - 1);
    if (found != nullptr && (map.sectioned ? found->section != section : rva - found->rva >= found->size))
      found = nullptr;
  } else if (layout == nullptr && map.sectioned) {
    // Without the program, a Microsoft map's own section:offset places it;
    // its entries lie in the order of their sections and offsets.
    const auto after = std::upper_bound(
        map.entries.begin(), map.entries.end(), std::make_pair(section, offset),
        [](const std::pair<unsigned, std::uint32_t>& v, const MapEntry& e) {
          return v.first != e.section ? v.first < e.section : v.second < e.offset;
        });
    if (after != map.entries.begin() && (after - 1)->section == section) found = &*(after - 1);
    rva = found != nullptr ? found->rva + (offset - found->offset) : 0;
  }
  if (found == nullptr) return false;
  *function = found->name;
  *functionOffset = static_cast<std::uint32_t>(rva - found->rva);
  return true;
}

}  // namespace ulr
