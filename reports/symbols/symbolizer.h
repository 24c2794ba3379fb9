// Turns the places of a version's crash logs into functions, offsets in
// them, source files and lines, with the version's symbols from the store:
// programs and their PDBs through llvm-symbolizer (Debian's llvm, which
// reads DWARF in mingw programs, PDBs, and a program's own symbol table),
// map files through their table (map_file.h) where the tool knows nothing.
//
// The symbol files are laid out in a private folder, each checked against
// its digest, once for as long as the Symbolizer lives.
#pragma once

#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "store/store.h"
#include "symbols/crash_stack.h"
#include "symbols/map_file.h"
#include "symbols/pe_layout.h"
#include "symbols/tool_run.h"

namespace ulr {

class Symbolizer {
 public:
  explicit Symbolizer(std::string tool = "llvm-symbolizer") : tool_(std::move(tool)) {}

  // Makes version's symbol files ready; false with *error.
  bool Load(ReportStore& store, const std::string& version, std::string* error);
  // The symbols' state Load found (SymbolStamp), for the resolutions.
  const std::string& stamp() const { return stamp_; }

  // out[i][j] for reports[i][j]. A place outside every module with
  // symbols stays unresolved. False with *error when the tool failed.
  bool Resolve(const std::vector<std::vector<CrashPlace>>& reports, std::vector<std::vector<Resolved>>* out,
               std::string* error);

 private:
  struct Module {
    PeLayout layout;
    bool hasLayout = false;
    std::string program;  // its path in the folder; empty without a program
    std::shared_ptr<MapTable> map;
  };
  const Module* Find(const std::string& module) const;
  bool Materialize(ReportStore& store, const SymbolFile& f, const std::string& path, std::string* error);
  bool Ask(const std::string& input, std::size_t answers,
           const std::function<void(std::size_t, const std::string&)>& take, std::string* error);
  void FromMaps(const std::vector<std::vector<CrashPlace>>& reports, std::vector<std::vector<Resolved>>* out) const;
  bool LoadMap(ReportStore& store, const SymbolFile& f, Module* m, std::string* error);

  const std::string tool_;
  PrivateFolder folder_;
  std::map<std::string, Module> modules_;  // by lower-case module name
  std::string stamp_;
};

// A function name as people read it: C++ names the compiler encoded are
// decoded (by the C++ library's own decoder), others stay as they are.
std::string ReadableFunction(const std::string& name);

}  // namespace ulr
