// A client version's symbols as the operator gives them: its programs
// (.exe, .dll: DWARF for mingw builds, or the symbol table alone), their
// program databases (PDB, from the usual Windows toolchain) and linker map
// files. Each is told by its content, not its name:
//  - a program serves the crash logs' module of its own file name;
//  - a PDB goes with the program whose build recorded its name, and only
//    when its GUID is that program's (checked with llvm-pdbutil);
//  - a map goes with the program of the same name before its extension;
//    a Microsoft linker's map may come alone (it speaks in section:offset).
// Everything is checked before anything is stored; the files' bytes go
// into the store, so every receiver on it has them.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "store/store.h"
#include "symbols/pe_layout.h"

struct evp_md_ctx_st;  // OpenSSL's digest context

namespace ulr {

// The SHA-256 that names a symbol file's stored bytes, fed in parts.
class SymbolDigest {
 public:
  SymbolDigest();
  ~SymbolDigest();
  SymbolDigest(const SymbolDigest&) = delete;
  SymbolDigest& operator=(const SymbolDigest&) = delete;
  void Add(std::string_view bytes);
  // Lower-case hexadecimal; the object is spent afterwards.
  std::string Hex();

 private:
  ::evp_md_ctx_st* ctx_;
};

// Lower case (ASCII letters only, as Windows compares module names here).
std::string LowerName(const std::string& name);

// Checks the files and stores them as version's symbols, each in place of
// the one it replaces. *said gets one line for each file. False, with
// *error and nothing stored, when any file is not one of the three kinds
// or has nothing to go with.
bool AddSymbolFiles(ReportStore& store, const std::string& version, const std::vector<std::string>& paths,
                    std::int64_t nowMs, std::vector<std::string>* said, std::string* error);

}  // namespace ulr
