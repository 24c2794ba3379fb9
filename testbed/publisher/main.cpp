// testbed_publish: writes the configuration server's tree for a release.
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include "publisher.h"
#include "release.h"

namespace {

const char kUsage[] =
    "usage: testbed_publish --client DIR --release FILE --out DIR [--host HOST] [--force]\n"
    "\n"
    "Writes the whole server tree of a release into DIR:\n"
    "  UlLaunch/global_Ulmet.cfg   directory file, record 5001 -> HOST:80 /UlLaunch/ULProgram.cfg\n"
    "  UlLaunch/ULProgram.cfg      program configuration file\n"
    "  Ulmet3/UpdateList.dat       update list ([ULMET3.0] and one line per version)\n"
    "  Ulmet3/ULHashFile.dat       name:number:digest:folder for every client file\n"
    "  Ulmet3/Ulmet_install.exe    the full installer, when the release names one\n"
    "  Ulmet3/files/...            every client file and archive; blanks become '!'\n"
    "  Ulmet3/chunks/...           with \"chunks\": the chunk list and indexes ([CHUNKLIST])\n"
    "  Ulmet3/patches/...          with \"patch\": the patch list and patches ([PATCHLIST])\n"
    "\n"
    "--client DIR    the client folder as the newest version installs it\n"
    "--release FILE  the release description (see testbed/README.md):\n"
    "                  host HOST | port N | set SECTION VALUE | unset SECTION |\n"
    "                  header TEXT | installer PATH | archive NAME.zip ITEM... |\n"
    "                  file ENTRY SOURCE | hash-exclude PATH | version N ENTRY... |\n"
    "                  chunks [FROM] | patch ENTRY BASE [from OTHER]\n"
    "--out DIR       where the tree goes; an existing tree is replaced only with --force\n"
    "--host HOST     configuration server host when the release names none (127.0.0.1)\n";

// Reads the command line into o, *releaseFile and *quiet. False when the
// program ends here (--help, or a mistake), with its exit code in *exitCode.
bool ReadOptions(int argc, char** argv, tb::PublishOptions* o, std::string* releaseFile, bool* quiet,
                 int* exitCode) {
  *exitCode = 2;
  for (int i = 1; i < argc; ++i) {
    std::string a = argv[i];
    auto value = [&]() -> std::string {
      if (i + 1 >= argc) {
        std::fprintf(stderr, "testbed_publish: %s needs a value\n", a.c_str());
        std::exit(2);
      }
      return argv[++i];
    };
    if (a == "--help" || a == "-h") {
      std::fputs(kUsage, stdout);
      *exitCode = 0;
      return false;
    } else if (a == "--client") {
      o->clientDir = value();
    } else if (a == "--release") {
      *releaseFile = value();
    } else if (a == "--out") {
      o->outDir = value();
    } else if (a == "--host") {
      o->host = value();
    } else if (a == "--force") {
      o->force = true;
    } else if (a == "--quiet") {
      *quiet = true;
    } else {
      std::fprintf(stderr, "testbed_publish: unknown option '%s' (see --help)\n", a.c_str());
      return false;
    }
  }
  if (o->clientDir.empty() || releaseFile->empty() || o->outDir.empty()) {
    std::fprintf(stderr, "testbed_publish: --client, --release and --out are required (see --help)\n");
    return false;
  }
  return true;
}

bool ReadRelease(const std::string& releaseFile, tb::Release* release) {
  std::ifstream in(releaseFile, std::ios::binary);
  if (!in) {
    std::fprintf(stderr, "testbed_publish: cannot read %s\n", releaseFile.c_str());
    return false;
  }
  std::ostringstream text;
  text << in.rdbuf();
  std::string error;
  if (!tb::ParseRelease(text.str(), release, &error)) {
    std::fprintf(stderr, "testbed_publish: %s: %s\n", releaseFile.c_str(), error.c_str());
    return false;
  }
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  tb::PublishOptions o;
  std::string releaseFile;
  bool quiet = false;
  int exitCode = 0;
  if (!ReadOptions(argc, argv, &o, &releaseFile, &quiet, &exitCode)) return exitCode;
  tb::Release release;
  if (!ReadRelease(releaseFile, &release)) return 1;
  o.releaseDir = std::filesystem::path(releaseFile).parent_path().string();
  if (o.releaseDir.empty()) o.releaseDir = ".";
  tb::PublishResult result;
  bool ok = tb::Publish(release, o, &result);
  for (const auto& w : result.warnings) std::fprintf(stderr, "testbed_publish: warning: %s\n", w.c_str());
  if (!ok) {
    std::fprintf(stderr, "testbed_publish: %s\n", result.error.c_str());
    return 1;
  }
  if (!quiet) {
    std::printf("published %zu files into %s\n", result.written.size(), o.outDir.c_str());
    for (const auto& w : result.written) std::printf("  %s\n", w.c_str());
  }
  return 0;
}
