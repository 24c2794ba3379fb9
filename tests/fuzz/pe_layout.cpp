// A program's layout over any bytes: the reader stays within the bytes,
// keeps at most the loader's number of sections, names a PDB only by a
// file name (no folder), and a layout written for the store reads back the
// same.
#include "symbols/pe_layout.h"

#include <string>

#include "fuzz_support.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string bytes(reinterpret_cast<const char*>(data), size);
  ulr::PeLayout layout;
  std::string why;
  const ulr::PeVerdict v = ulr::ReadPeLayout(bytes, &layout, &why);
  if (v != ulr::PeVerdict::kOk) {
    FUZZ_CHECK(v == ulr::PeVerdict::kNotPe || !why.empty(), fuzz::Shown(bytes.substr(0, 256)));
    return 0;
  }
  FUZZ_CHECK(!layout.sections.empty() && layout.sections.size() <= ulr::kMaxPeSections, "section count");
  FUZZ_CHECK(layout.pdbName.find_first_of("/\\") == std::string::npos, layout.pdbName);
  FUZZ_CHECK(layout.pdbGuid.empty() || layout.pdbGuid.size() == 36, layout.pdbGuid);
  std::uint64_t rva = 0;
  FUZZ_CHECK(!ulr::SectionRva(layout, 0, 0, &rva) && !ulr::SectionRva(layout, layout.sections.size() + 1, 0, &rva),
             "a section beyond the table");
  if (layout.pdbName.find_first_of("\r\n") != std::string::npos) return 0;  // a layout line holds one name
  ulr::PeLayout back;
  FUZZ_CHECK(ulr::ReadLayout(ulr::WriteLayout(layout), &back), ulr::WriteLayout(layout));
  FUZZ_CHECK(back.imageBase == layout.imageBase && back.sections.size() == layout.sections.size(), "base, sections");
  for (std::size_t i = 0; i < back.sections.size(); ++i)
    FUZZ_CHECK(back.sections[i].rva == layout.sections[i].rva, "section rva");
  FUZZ_CHECK(back.pdbGuid == layout.pdbGuid, back.pdbGuid);
  return 0;
}
