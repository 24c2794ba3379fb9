#include "symbols/symbolizer.h"

#include <cxxabi.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <nlohmann/json.hpp>

#include "symbols/symbol_files.h"

namespace ulr {

namespace {

constexpr int kToolSeconds = 600;

// Every part of the stored bytes, checked against their digest.
bool ReadStored(ReportStore& store, const SymbolFile& f, const std::function<bool(const std::string&)>& take,
                std::string* error) {
  SymbolDigest sha;
  std::string part;
  for (std::int64_t n = 0;; ++n) {
    if (!store.SymbolPart(f.digest, n, &part, error)) return false;
    if (part.empty()) break;
    sha.Add(part);
    if (!take(part)) {
      *error = "cannot write " + f.name;
      return false;
    }
  }
  if (sha.Hex() == f.digest) return true;
  *error = "the stored bytes of " + f.name + " (version " + f.version + ") are damaged or missing";
  return false;
}

std::string Text(const nlohmann::json& o, const char* key) {
  const auto it = o.find(key);
  return it != o.end() && it->is_string() ? it->get<std::string>() : std::string();
}

// One answer of the tool: the first symbol of {"Address":..., "Symbol":[...]}.
Resolved FromAnswer(const std::string& line, std::uint64_t address) {
  Resolved r;
  const nlohmann::json answer = nlohmann::json::parse(line, nullptr, false);
  if (!answer.is_object()) return r;
  const auto symbols = answer.find("Symbol");
  if (symbols == answer.end() || !symbols->is_array() || symbols->empty() || !(*symbols)[0].is_object()) return r;
  const nlohmann::json& s = (*symbols)[0];
  r.function = ReadableFunction(Text(s, "FunctionName"));
  if (r.function.empty()) return r;
  r.file = Text(s, "FileName");
  const auto number = s.find("Line");
  if (number != s.end() && number->is_number_integer()) r.line = number->get<int>();
  const std::string start = Text(s, "StartAddress");
  const std::uint64_t from = std::strtoull(start.c_str(), nullptr, 16);
  if (!start.empty() && from <= address) r.functionOffset = static_cast<std::int64_t>(address - from);
  return r;
}

// A file name the folder can hold as it is.
bool SafeName(const std::string& name) {
  if (name.empty() || name.size() > 255 || name == "." || name == ".." || name == "program.bin") return false;
  for (char c : name)
    if (c == '/' || c == '\\' || c == '"' || static_cast<unsigned char>(c) < 0x20) return false;
  return true;
}

// Whether place j of a log is a return address: every stack line but the
// first, which is where the fault happened.
bool ReturnAddress(const std::vector<CrashPlace>& places, std::size_t j) {
  return !places[j].fault && j > 0 && !places[j - 1].fault;
}

}  // namespace

std::string ReadableFunction(const std::string& name) {
  const char* mangled = name.c_str();
  if (name.rfind("__Z", 0) == 0) ++mangled;  // 32-bit Windows symbols carry one more underscore
  if (std::string(mangled).rfind("_Z", 0) != 0) return name;
  int status = 0;
  char* plain = abi::__cxa_demangle(mangled, nullptr, nullptr, &status);
  const std::string out = status == 0 && plain != nullptr ? plain : name;
  std::free(plain);
  return out;
}

bool Symbolizer::Materialize(ReportStore& store, const SymbolFile& f, const std::string& path, std::string* error) {
  const std::string folder = path.substr(0, path.rfind('/'));
  std::error_code ec;
  if (std::filesystem::exists(path, ec)) return true;
  std::filesystem::create_directories(folder, ec);
  std::ofstream out(path + ".part", std::ios::binary);
  const bool ok = ReadStored(store, f, [&out](const std::string& part) {
    out.write(part.data(), static_cast<std::streamsize>(part.size()));
    return static_cast<bool>(out);
  }, error);
  out.close();
  if (ok && out && std::rename((path + ".part").c_str(), path.c_str()) == 0) return true;
  std::filesystem::remove(path + ".part", ec);
  if (ok) *error = "cannot write " + path;
  return false;
}

bool Symbolizer::LoadMap(ReportStore& store, const SymbolFile& f, Module* m, std::string* error) {
  std::string text;
  if (!ReadStored(store, f, [&text](const std::string& part) {
        text += part;
        return true;
      }, error))
    return false;
  m->map = std::make_shared<MapTable>();
  if (ReadMapFile(text, m->map.get()) == MapVerdict::kOk) return true;
  *error = "the stored map " + f.name + " cannot be read";
  return false;
}

bool Symbolizer::Load(ReportStore& store, const std::string& version, std::string* error) {
  modules_.clear();
  std::vector<SymbolFile> files;
  if (!folder_.ok()) {
    *error = "no temporary folder for the symbol files";
    return false;
  }
  if (!store.SymbolFiles(version, &files, error)) return false;
  stamp_ = SymbolStamp(files);
  for (const SymbolFile& f : files) {
    Module& m = modules_[f.module];
    if (f.kind == "program") m.hasLayout = ReadLayout(f.layout, &m.layout);
    if (f.kind == "map" && !LoadMap(store, f, &m, error)) return false;
  }
  // A program and its PDB share a folder, named by both digests: the tool
  // looks for the PDB beside its program.
  for (auto& entry : modules_) {
    const SymbolFile* program = nullptr;
    const SymbolFile* pdb = nullptr;
    for (const SymbolFile& f : files) {
      if (f.module != entry.first) continue;
      if (f.kind == "program") program = &f;
      if (f.kind == "pdb") pdb = &f;
    }
    if (program == nullptr || !entry.second.hasLayout) continue;
    // The tool finds the PDB by the name the build recorded, beside the
    // program; the program's own name does not matter to it.
    const std::string& pdbName = entry.second.layout.pdbName;
    if (pdb != nullptr && !SafeName(pdbName)) pdb = nullptr;
    const std::string folder = folder_.path() + "/" + program->digest + (pdb ? "-" + pdb->digest : "");
    if (!Materialize(store, *program, folder + "/program.bin", error) ||
        (pdb != nullptr && !Materialize(store, *pdb, folder + "/" + pdbName, error)))
      return false;
    entry.second.program = folder + "/program.bin";
  }
  return true;
}

bool Symbolizer::Resolve(const std::vector<std::vector<CrashPlace>>& reports, std::vector<std::vector<Resolved>>* out,
                         std::string* error) {
  struct Query {
    std::size_t report, place;
    std::uint64_t address;
    std::uint64_t asked;  // a return address is asked one byte back: the call, not what follows it
  };
  std::vector<Query> queries;
  std::string input;
  out->assign(reports.size(), {});
  for (std::size_t i = 0; i < reports.size(); ++i) {
    (*out)[i].resize(reports[i].size());
    for (std::size_t j = 0; j < reports[i].size(); ++j) {
      const CrashPlace& p = reports[i][j];
      const Module* m = Find(p.module);
      std::uint64_t rva = 0;
      if (m == nullptr || m->program.empty() || !SectionRva(m->layout, p.section, p.offset, &rva)) continue;
      const std::uint64_t address = m->layout.imageBase + rva;
      const std::uint64_t asked = ReturnAddress(reports[i], j) && address > 0 ? address - 1 : address;
      queries.push_back({i, j, address, asked});
      char hex[24];
      std::snprintf(hex, sizeof hex, " 0x%llx\n", static_cast<unsigned long long>(asked));
      input += m->program + hex;
    }
  }
  if (!queries.empty() && !Ask(input, queries.size(), [&](std::size_t q, const std::string& line) {
        Resolved r = FromAnswer(line, queries[q].asked);
        if (r.functionOffset >= 0) r.functionOffset += static_cast<std::int64_t>(queries[q].address - queries[q].asked);
        (*out)[queries[q].report][queries[q].place] = r;
      }, error))
    return false;
  FromMaps(reports, out);
  return true;
}

bool Symbolizer::Ask(const std::string& input, std::size_t answers,
                     const std::function<void(std::size_t, const std::string&)>& take, std::string* error) {
  const std::string in = folder_.path() + "/queries.txt", outFile = folder_.path() + "/answers.txt";
  std::ofstream(in, std::ios::binary) << input;
  const int rc = RunTool({tool_, "--output-style=JSON", "--no-inlines", "--relativenames"}, in, outFile, kToolSeconds);
  std::ifstream answersIn(outFile);
  std::string line;
  std::size_t n = 0;
  while (rc == 0 && n < answers && std::getline(answersIn, line)) take(n++, line);
  if (rc == 0 && n == answers) return true;
  *error = tool_ + (rc == 0 ? " answered fewer places than it was asked" : " failed or ran too long");
  return false;
}

// Places the tool could not name, from the module's map where it has one.
void Symbolizer::FromMaps(const std::vector<std::vector<CrashPlace>>& reports,
                          std::vector<std::vector<Resolved>>* out) const {
  for (std::size_t i = 0; i < reports.size(); ++i) {
    for (std::size_t j = 0; j < reports[i].size(); ++j) {
      const CrashPlace& p = reports[i][j];
      const Module* m = Find(p.module);
      Resolved& r = (*out)[i][j];
      if (m == nullptr || !m->map || !r.function.empty()) continue;
      std::uint32_t offset = 0;
      if (LookUpMap(*m->map, m->hasLayout ? &m->layout : nullptr, p.section, p.offset, &r.function, &offset)) {
        r.function = ReadableFunction(r.function);
        r.functionOffset = offset;
      }
    }
  }
}

const Symbolizer::Module* Symbolizer::Find(const std::string& module) const {
  const std::string lower = LowerName(module);
  auto it = modules_.find(lower);
  if (it == modules_.end()) it = modules_.find(lower.substr(0, lower.rfind('.')));
  return it == modules_.end() ? nullptr : &it->second;
}

}  // namespace ulr
