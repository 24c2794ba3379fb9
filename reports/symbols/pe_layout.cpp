#include "symbols/pe_layout.h"

#include <cstdio>
#include <cstdlib>
#include <sstream>

namespace ulr {

namespace {

std::uint32_t U16(std::string_view b, std::size_t at) {
  return static_cast<std::uint32_t>(static_cast<unsigned char>(b[at]) | static_cast<unsigned char>(b[at + 1]) << 8);
}
std::uint32_t U32(std::string_view b, std::size_t at) { return U16(b, at) | U16(b, at + 2) << 16; }
std::uint64_t U64(std::string_view b, std::size_t at) {
  return U32(b, at) | static_cast<std::uint64_t>(U32(b, at + 4)) << 32;
}

bool Fits(std::string_view b, std::uint64_t at, std::uint64_t size) { return at <= b.size() && size <= b.size() - at; }

PeVerdict Damaged(std::string* why, const char* what) {
  *why = what;
  return PeVerdict::kDamaged;
}

// The file offset of size bytes at rva, when one section's raw data holds them.
bool FileOffset(std::string_view b, std::size_t table, std::size_t count, std::uint32_t rva, std::uint32_t size,
                std::size_t* at) {
  for (std::size_t i = 0; i < count; ++i) {
    const std::size_t s = table + 40 * i;
    const std::uint32_t va = U32(b, s + 12), raw = U32(b, s + 16), pointer = U32(b, s + 20);
    if (rva < va || rva - va >= raw || size > raw - (rva - va)) continue;
    const std::uint64_t offset = static_cast<std::uint64_t>(pointer) + (rva - va);
    if (!Fits(b, offset, size)) return false;
    *at = static_cast<std::size_t>(offset);
    return true;
  }
  return false;
}

// A GUID as programs write it: {Data1-Data2-Data3-Data4}, the first three
// little-endian numbers.
std::string Guid(std::string_view b, std::size_t at) {
  char text[40];
  const auto byte = [&](std::size_t i) { return static_cast<unsigned>(static_cast<unsigned char>(b[at + i])); };
  std::snprintf(text, sizeof text, "%08X-%04X-%04X-%02X%02X-%02X%02X%02X%02X%02X%02X",
                static_cast<unsigned>(U32(b, at)), static_cast<unsigned>(U16(b, at + 4)),
                static_cast<unsigned>(U16(b, at + 6)), byte(8), byte(9), byte(10), byte(11), byte(12), byte(13),
                byte(14), byte(15));
  return text;
}

// The CodeView record ("RSDS", GUID, age, path) the debug directory names.
void ReadPdbName(std::string_view b, std::size_t table, std::size_t count, std::uint32_t dirRva,
                 std::uint32_t dirSize, PeLayout* out) {
  std::size_t dir = 0;
  const std::size_t entries = dirSize / 28 < kMaxDebugEntries ? dirSize / 28 : kMaxDebugEntries;
  if (entries == 0 || !FileOffset(b, table, count, dirRva, static_cast<std::uint32_t>(28 * entries), &dir)) return;
  for (std::size_t i = 0; i < entries; ++i) {
    const std::size_t e = dir + 28 * i;
    const std::uint32_t type = U32(b, e + 12), size = U32(b, e + 16), pointer = U32(b, e + 24);
    if (type != 2 || size < 25 || size > 4096 || !Fits(b, pointer, size) || b.substr(pointer, 4) != "RSDS") continue;
    std::string_view path = b.substr(pointer + 24, size - 24);
    path = path.substr(0, path.find('\0'));
    const std::size_t slash = path.find_last_of("\\/");
    out->pdbName = std::string(slash == std::string_view::npos ? path : path.substr(slash + 1));
    out->pdbGuid = Guid(b, pointer + 4);
    return;
  }
}

}  // namespace

PeVerdict ReadPeLayout(std::string_view b, PeLayout* out, std::string* why) {
  *out = PeLayout();
  if (!Fits(b, 0, 64) || b.substr(0, 2) != "MZ") return PeVerdict::kNotPe;
  const std::uint32_t pe = U32(b, 60);
  if (!Fits(b, pe, 24) || b.substr(pe, 4) != std::string_view("PE\0\0", 4)) return PeVerdict::kNotPe;
  out->machine = static_cast<std::uint16_t>(U16(b, pe + 4));
  const std::size_t count = U16(b, pe + 6), optionalSize = U16(b, pe + 20), optional = pe + 24;
  if (count == 0 || count > kMaxPeSections) return Damaged(why, "the section count is 0 or above 96");
  if (!Fits(b, optional, optionalSize) || optionalSize < 2) return Damaged(why, "the optional header lies outside the file");
  const std::uint32_t magic = U16(b, optional);
  const bool plus = magic == 0x20B;
  if (magic != 0x10B && !plus) return Damaged(why, "the optional header is neither PE32 nor PE32+");
  const std::size_t directories = optional + (plus ? 112 : 96);
  if (optionalSize < (plus ? 112u : 96u)) return Damaged(why, "the optional header is too short");
  out->imageBase = plus ? U64(b, optional + 24) : U32(b, optional + 28);
  const std::size_t table = optional + optionalSize;
  if (!Fits(b, table, 40 * count)) return Damaged(why, "the section table lies outside the file");
  for (std::size_t i = 0; i < count; ++i) {
    const std::size_t s = table + 40 * i;
    PeSection section;
    section.name = std::string(b.substr(s, 8));
    section.name = section.name.substr(0, section.name.find('\0'));
    section.rva = U32(b, s + 12);
    section.size = U32(b, s + 8) > U32(b, s + 16) ? U32(b, s + 8) : U32(b, s + 16);
    out->sections.push_back(section);
  }
  const std::uint32_t directoryCount = U32(b, optional + (plus ? 108 : 92));
  if (directoryCount > 6 && Fits(b, directories + 6 * 8, 8) && directories + 7 * 8 <= table)
    ReadPdbName(b, table, count, U32(b, directories + 48), U32(b, directories + 52), out);
  return PeVerdict::kOk;
}

bool SectionRva(const PeLayout& layout, unsigned section, std::uint32_t offset, std::uint64_t* rva) {
  if (section == 0 || section > layout.sections.size()) return false;
  *rva = static_cast<std::uint64_t>(layout.sections[section - 1].rva) + offset;
  return true;
}

std::string WriteLayout(const PeLayout& layout) {
  std::ostringstream out;
  out << std::hex << layout.imageBase << ' ';
  for (std::size_t i = 0; i < layout.sections.size(); ++i) out << (i ? "," : "") << layout.sections[i].rva;
  out << ' ' << (layout.pdbGuid.empty() ? "-" : layout.pdbGuid) << ' ' << layout.pdbName;
  return out.str();
}

bool ReadLayout(const std::string& text, PeLayout* layout) {
  *layout = PeLayout();
  std::istringstream in(text);
  std::string sections, guid;
  if (!(in >> std::hex >> layout->imageBase >> sections >> guid)) return false;
  std::istringstream list(sections);
  std::string rva;
  while (std::getline(list, rva, ',') && layout->sections.size() < kMaxPeSections) {
    PeSection s;
    s.rva = static_cast<std::uint32_t>(std::strtoul(rva.c_str(), nullptr, 16));
    layout->sections.push_back(s);
  }
  layout->pdbGuid = guid == "-" ? "" : guid;
  std::getline(in >> std::ws, layout->pdbName);
  return true;
}

}  // namespace ulr
