#include "symbols/symbol_files.h"

#include <fcntl.h>
#include <openssl/evp.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <memory>
#include <sstream>

#include "symbols/map_file.h"
#include "symbols/tool_run.h"

namespace ulr {

namespace {

const char kPdbMagic[] = "Microsoft C/C++ MSF 7.00\r\n\x1a" "DS\0\0\0";

// A file's bytes, mapped read-only for as long as its owner lives.
class MappedFile {
 public:
  explicit MappedFile(const std::string& path) {
    const Descriptor fd(open(path.c_str(), O_RDONLY | O_CLOEXEC));
    struct stat st {};
    if (fd.get() < 0 || fstat(fd.get(), &st) != 0 || !S_ISREG(st.st_mode) || st.st_size <= 0) return;
    void* p = mmap(nullptr, static_cast<std::size_t>(st.st_size), PROT_READ, MAP_PRIVATE, fd.get(), 0);
    if (p != MAP_FAILED) {
      data_ = static_cast<const char*>(p);
      size_ = static_cast<std::size_t>(st.st_size);
    }
  }
  ~MappedFile() {
    if (data_ != nullptr) munmap(const_cast<char*>(data_), size_);
  }
  MappedFile(const MappedFile&) = delete;
  MappedFile& operator=(const MappedFile&) = delete;
  bool ok() const { return data_ != nullptr; }
  std::string_view bytes() const { return std::string_view(data_, size_); }

 private:
  const char* data_ = nullptr;
  std::size_t size_ = 0;
};

// One file to add, read and checked.
struct Given {
  std::string path;
  std::unique_ptr<MappedFile> file;
  SymbolFile record;
  PeLayout layout;  // programs
  bool sectionedMap = false;
};

std::string FileName(const std::string& path) { return path.substr(path.find_last_of('/') + 1); }
std::string Stem(const std::string& name) { return name.substr(0, name.rfind('.')); }

std::string Sha256Hex(std::string_view bytes) {
  SymbolDigest digest;
  digest.Add(bytes);
  return digest.Hex();
}

// Tells what the file is; false with *error when none of the three.
bool Classify(Given* g, std::string* error) {
  const std::string_view b = g->file->bytes();
  std::string why;
  const PeVerdict pe = ReadPeLayout(b, &g->layout, &why);
  MapTable map;
  if (pe == PeVerdict::kDamaged) {
    *error = g->path + ": a damaged program: " + why;
    return false;
  }
  if (pe == PeVerdict::kOk) {
    g->record.kind = "program";
    g->record.module = LowerName(g->record.name);
    g->record.layout = WriteLayout(g->layout);
  } else if (b.substr(0, sizeof kPdbMagic - 1) == std::string_view(kPdbMagic, sizeof kPdbMagic - 1)) {
    g->record.kind = "pdb";
  } else if (ReadMapFile(b, &map) == MapVerdict::kOk) {
    g->record.kind = "map";
    g->sectionedMap = map.sectioned;
  } else {
    *error = g->path + ": neither a Windows program, a PDB nor a linker map file";
    return false;
  }
  return true;
}

// The GUID llvm-pdbutil reads in the PDB's summary; empty when it cannot.
std::string PdbGuid(const std::string& path) {
  PrivateFolder folder;
  const std::string out = folder.path() + "/summary.txt";
  if (!folder.ok() || RunTool({"llvm-pdbutil", "dump", "--summary", path}, "", out, 120) != 0) return "";
  std::ifstream in(out);
  std::string line;
  while (std::getline(in, line)) {
    const std::size_t at = line.find("GUID: {");
    if (at != std::string::npos) return line.substr(at + 7, 36);
  }
  return "";
}

// The program (given now, or stored for the version) that matches.
template <typename Match>
const SymbolFile* FindProgram(const std::vector<Given>& given, const std::vector<SymbolFile>& stored, Match match) {
  for (const Given& g : given)
    if (g.record.kind == "program" && match(g.record, g.layout)) return &g.record;
  for (const SymbolFile& s : stored) {
    bool replaced = false;  // a program given now takes the stored one's place
    for (const Given& g : given) replaced = replaced || (g.record.kind == "program" && g.record.module == s.module);
    PeLayout layout;
    if (!replaced && s.kind == "program" && ReadLayout(s.layout, &layout) && match(s, layout)) return &s;
  }
  return nullptr;
}

// Finds what a PDB or a map goes with; false with *error when nothing.
bool Pair(Given* g, const std::vector<Given>& given, const std::vector<SymbolFile>& stored, std::string* error) {
  const std::string lower = LowerName(g->record.name);
  if (g->record.kind == "pdb") {
    std::string guid;
    const SymbolFile* program = FindProgram(given, stored, [&](const SymbolFile&, const PeLayout& l) {
      return LowerName(l.pdbName) == lower && !(guid = l.pdbGuid).empty();
    });
    if (program == nullptr) {
      *error = g->path + ": no program of version " + g->record.version + " names " + g->record.name +
               " as its PDB (give the program too)";
      return false;
    }
    if (PdbGuid(g->path) != guid) {
      *error = g->path + ": not the PDB of " + program->name + " (its GUID is not " + guid + ")";
      return false;
    }
    g->record.module = program->module;
    return true;
  }
  const SymbolFile* program = FindProgram(given, stored, [&](const SymbolFile& s, const PeLayout&) {
    return Stem(s.module) == Stem(lower);
  });
  if (program == nullptr && !g->sectionedMap) {
    *error = g->path + ": a GNU linker's map needs its program (give the .exe or .dll too)";
    return false;
  }
  g->record.module = program != nullptr ? program->module : Stem(lower);
  return true;
}

bool Store(ReportStore& store, const Given& g, std::string* error) {
  const std::string_view b = g.file->bytes();
  std::size_t at = 0;
  return store.AddSymbolFile(g.record, [&](std::string* part) {
    const std::size_t n = b.size() - at < kSymbolPartBytes ? b.size() - at : kSymbolPartBytes;
    part->assign(b.data() + at, n);
    at += n;
    return true;
  }, error);
}

}  // namespace

std::string LowerName(const std::string& name) {
  std::string out = name;
  for (char& c : out)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  return out;
}

bool AddSymbolFiles(ReportStore& store, const std::string& version, const std::vector<std::string>& paths,
                    std::int64_t nowMs, std::vector<std::string>* said, std::string* error) {
  std::vector<Given> given(paths.size());
  for (std::size_t i = 0; i < paths.size(); ++i) {
    Given& g = given[i];
    g.path = paths[i];
    g.file = std::make_unique<MappedFile>(g.path);
    if (!g.file->ok()) {
      *error = g.path + ": cannot read it (or it is empty)";
      return false;
    }
    g.record.version = version;
    g.record.name = FileName(g.path);
    g.record.size = static_cast<std::int64_t>(g.file->bytes().size());
    g.record.addedMs = nowMs;
    if (!Classify(&g, error)) return false;
    g.record.digest = Sha256Hex(g.file->bytes());
  }
  std::vector<SymbolFile> stored;
  if (!store.SymbolFiles(version, &stored, error)) return false;
  for (Given& g : given)
    if (g.record.kind != "program" && !Pair(&g, given, stored, error)) return false;
  for (const char* kind : {"program", "pdb", "map"}) {
    for (const Given& g : given) {
      if (g.record.kind != kind) continue;
      if (!Store(store, g, error)) return false;
      said->push_back(std::string(kind) + " " + g.record.name + " for module " + g.record.module + " of version " +
                      version);
    }
  }
  return true;
}

SymbolDigest::SymbolDigest() : ctx_(EVP_MD_CTX_new()) { EVP_DigestInit_ex(ctx_, EVP_sha256(), nullptr); }

SymbolDigest::~SymbolDigest() { EVP_MD_CTX_free(ctx_); }

void SymbolDigest::Add(std::string_view bytes) { EVP_DigestUpdate(ctx_, bytes.data(), bytes.size()); }

std::string SymbolDigest::Hex() {
  unsigned char d[EVP_MAX_MD_SIZE];
  unsigned int n = 0;
  EVP_DigestFinal_ex(ctx_, d, &n);
  std::string out;
  char two[3];
  for (unsigned int i = 0; i < n; ++i) {
    std::snprintf(two, sizeof two, "%02x", d[i]);
    out += two;
  }
  return out;
}

}  // namespace ulr
