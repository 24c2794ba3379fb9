// What the report service needs of a Windows program (.exe, .dll) to turn
// a crash log's logical address (section number and offset) into the
// address its debug information speaks of: the preferred image base, the
// sections' places, and the program database (PDB) its build names.
//
// The bytes are operator input: the reader looks only at the headers,
// the section table (at most kMaxPeSections) and the debug directory (at
// most kMaxDebugEntries), each checked against the file's size. No
// network and no store here; it builds in the fuzz tree.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace ulr {

constexpr std::size_t kMaxPeSections = 96;  // the loader's own limit
constexpr std::size_t kMaxDebugEntries = 64;

struct PeSection {
  std::string name;       // up to 8 characters, as in the table
  std::uint32_t rva = 0;  // relative to the image base
  std::uint32_t size = 0;
};

struct PeLayout {
  std::uint16_t machine = 0;  // 0x14C for 32-bit x86, 0x8664 for x64
  std::uint64_t imageBase = 0;
  std::vector<PeSection> sections;  // in the table's order: section n is sections[n - 1]
  // The program database the build wrote, from its CodeView record: the
  // file name alone (the build machine's folder means nothing here), and
  // its GUID ("7D429130-F4ED-44FB-4C4C-44205044422E"). Empty without one.
  std::string pdbName;
  std::string pdbGuid;
};

enum class PeVerdict { kOk, kNotPe, kDamaged };

// Reads the layout of a program's bytes. kNotPe: not a program at all (no
// "MZ" and PE header); kDamaged: a program whose headers point outside the
// file or hold impossible values (*why says which).
PeVerdict ReadPeLayout(std::string_view file, PeLayout* out, std::string* why);

// The address that section:offset names in the image, relative to its base;
// false when the section does not exist.
bool SectionRva(const PeLayout& layout, unsigned section, std::uint32_t offset, std::uint64_t* rva);

// A program's layout as the store keeps it: "BASE RVA,RVA,... GUID NAME"
// (hexadecimal; "-" for a GUID it has none of; NAME its PDB's file name,
// maybe empty). Sections keep their places only.
std::string WriteLayout(const PeLayout& layout);
bool ReadLayout(const std::string& text, PeLayout* layout);

}  // namespace ulr
