#include "symbols_commands.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "receive/answers.h"
#include "store/store.h"
#include "symbols/resolve.h"
#include "symbols/symbol_files.h"
#include "symbols/symbolizer.h"

namespace ulr {

namespace {

const char kSymbolsUsage[] =
    "usage: ulmet-reports symbols add --store STORE --version V FILE...\n"
    "       ulmet-reports symbols list --store STORE [--version V]\n"
    "       ulmet-reports symbols remove --store STORE --version V [--module NAME]\n"
    "\n"
    "Keeps the symbols of a client version in the store, so that its reports show\n"
    "functions, source files and lines rather than section:offset, and one fault\n"
    "keeps one signature across builds. V is the version as the client's crash\n"
    "logs give it (\"Version : V\"). FILE is any of:\n"
    "  a program (.exe, .dll) with its debug information (DWARF: mingw builds),\n"
    "    or without (its own symbol table is used); it serves the crash logs'\n"
    "    module of its file name;\n"
    "  its program database (.pdb), which goes with the program whose build\n"
    "    named it (give the program too, now or before);\n"
    "  a linker's map file: the GNU linker's goes with the program of the same\n"
    "    name (FILE.map with FILE.exe); the Microsoft linker's may come alone.\n"
    "A file replaces the version's file of the same module and kind. add resolves\n"
    "the version's reports at once, those received before included; remove sends\n"
    "them back to their raw signatures (and resolves them with what is left).\n"
    "Resolving needs llvm-symbolizer (Debian's llvm package) on the PATH.\n";

const char kResymbolizeUsage[] =
    "usage: ulmet-reports resymbolize --store STORE [--version V] [--signature-frames N]\n"
    "\n"
    "Resolves the reports of version V (of every version with symbols when not\n"
    "given) again, and makes their signatures anew. --signature-frames N sets how\n"
    "many frames of the stack below the fault a signature holds (0 to 16; the\n"
    "store keeps it, 3 until set), and then resolves every version.\n"
    "serve resolves new reports by itself, a few seconds after they arrive.\n";

struct Options {
  std::string store, version, module;
  int frames = -1;
  std::vector<std::string> files;
};

int Usage(const char* text, const std::string& problem) {
  std::fprintf(stderr, "ulmet-reports: %s\n\n%s", problem.c_str(), text);
  return 2;
}

// The options from argv[0] on; 0 when read, 1 for --help, 2 after a message.
int ReadOptions(int argc, char** argv, const char* usage, Options* o) {
  for (int i = 0; i < argc; ++i) {
    const std::string w = argv[i];
    if (w == "--help" || w == "-h") return 1;
    const bool valued = w == "--store" || w == "--version" || w == "--module" || w == "--signature-frames";
    if (!valued && w.rfind("--", 0) == 0) return Usage(usage, "unknown option '" + w + "'");
    if (!valued) {
      o->files.push_back(w);
      continue;
    }
    if (i + 1 >= argc) return Usage(usage, w + " needs a value");
    const std::string v = argv[++i];
    if (w == "--store") o->store = v;
    if (w == "--version") o->version = v;
    if (w == "--module") o->module = LowerName(v);
    char* end = nullptr;
    if (w == "--signature-frames") o->frames = static_cast<int>(std::strtol(v.c_str(), &end, 10));
    if (w == "--signature-frames" && (*end != '\0' || o->frames < 0 || o->frames > kMaxSignatureFrames))
      return Usage(usage, "--signature-frames takes 0 to 16");
  }
  return o->store.empty() ? Usage(usage, "--store is required") : 0;
}

int Failed(const std::string& error) {
  std::fprintf(stderr, "ulmet-reports: %s\n", error.c_str());
  return 1;
}

// Resolves what waits and says how many.
int Resolve(ReportStore& store, const std::string& version) {
  Symbolizer symbolizer;
  std::string error;
  const std::int64_t n = ResolveReports(store, symbolizer, version, &error);
  if (n < 0) return Failed(error);
  std::printf("resolved %lld reports\n", static_cast<long long>(n));
  return 0;
}

int List(ReportStore& store, const Options& o) {
  std::vector<SymbolFile> files;
  std::string error;
  if (!store.SymbolFiles(o.version, &files, &error)) return Failed(error);
  for (const SymbolFile& f : files) {
    std::printf("%s\t%s\t%s\t%s\t%lld bytes\t%s\n", f.version.c_str(), f.module.c_str(), f.kind.c_str(),
                f.name.c_str(), static_cast<long long>(f.size), f.digest.substr(0, 16).c_str());
  }
  if (files.empty()) std::printf("no symbols%s\n", o.version.empty() ? "" : (" for version " + o.version).c_str());
  return 0;
}

}  // namespace

int SymbolsCommand(int argc, char** argv) {
  if (argc < 1 || std::strcmp(argv[0], "--help") == 0 || std::strcmp(argv[0], "-h") == 0) {
    std::fputs(kSymbolsUsage, argc < 1 ? stderr : stdout);
    return argc < 1 ? 2 : 0;
  }
  const std::string action = argv[0];
  if (action != "add" && action != "list" && action != "remove") return Usage(kSymbolsUsage, "unknown action '" + action + "'");
  Options o;
  const int rc = ReadOptions(argc - 1, argv + 1, kSymbolsUsage, &o);
  if (rc == 1) std::fputs(kSymbolsUsage, stdout);
  if (rc != 0) return rc == 1 ? 0 : rc;
  if (action != "list" && o.version.empty()) return Usage(kSymbolsUsage, "--version is required");
  if ((action == "add") != !o.files.empty()) return Usage(kSymbolsUsage, action == "add" ? "no FILE given" : "unexpected FILE");
  std::string error;
  auto store = OpenStore(o.store, false, &error);
  if (!store) return Failed(error);
  if (action == "list") return List(*store, o);
  if (action == "remove") {
    std::int64_t removed = 0;
    if (!store->RemoveSymbols(o.version, o.module, &removed, &error)) return Failed(error);
    std::printf("removed %lld symbol files of version %s\n", static_cast<long long>(removed), o.version.c_str());
    return Resolve(*store, o.version);
  }
  std::vector<std::string> said;
  if (!AddSymbolFiles(*store, o.version, o.files, NowMs(), &said, &error)) return Failed(error);
  for (const std::string& line : said) std::printf("added %s\n", line.c_str());
  return Resolve(*store, o.version);
}

int ResymbolizeCommand(int argc, char** argv) {
  Options o;
  const int rc = ReadOptions(argc, argv, kResymbolizeUsage, &o);
  if (rc == 1) std::fputs(kResymbolizeUsage, stdout);
  if (rc != 0) return rc == 1 ? 0 : rc;
  if (!o.files.empty()) return Usage(kResymbolizeUsage, "unexpected '" + o.files[0] + "'");
  std::string error;
  auto store = OpenStore(o.store, false, &error);
  if (!store) return Failed(error);
  if (o.frames >= 0) {
    if (!store->SetSetting(kSignatureFramesSetting, std::to_string(o.frames), &error)) return Failed(error);
    o.version.clear();
  }
  if (!store->ResetResolved(o.version, &error)) return Failed(error);
  return Resolve(*store, o.version);
}

}  // namespace ulr
