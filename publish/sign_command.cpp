// "keygen": a new release key pair; "sign": the manifest and signature of a
// tree's release.
#include <chrono>
#include <cstdio>
#include <cstring>
#include <string>

#include "commands.h"
#include "formats/trust/release_manifest.h"
#include "crypto.h"
#include "key.h"
#include "manifest.h"

namespace {

const char kKeygenUsage[] =
    "usage: ulmet-publish keygen --out BASE\n"
    "  Makes a release key pair: BASE.key (private; readable by its owner only,\n"
    "  keep it off the web server) and BASE.pub (build the updater with it:\n"
    "  -DULMET_RELEASE_KEY=BASE.pub). Existing files are never replaced.\n";

const char kSignUsage[] =
    "usage: ulmet-publish sign --tree TREE --key BASE.key\n"
    "  Writes the release manifest (every file the release serves, with size and\n"
    "  SHA-256, and which path the program configuration names for each role) and\n"
    "  its signature beside the tree's directory file, and the same records\n"
    "  without the roles beside its update list, for keyed updaters built before.\n";

// "--name value" pairs into the given slots; false (after a message) for
// anything else. "--help" prints usage and ends with 0 through *exitCode.
bool ParseOptions(int argc, char** argv, const char* usage,
                  std::initializer_list<std::pair<const char*, std::string*>> slots,
                  int* exitCode) {
  for (int i = 0; i < argc; ++i) {
    if (!std::strcmp(argv[i], "--help") || !std::strcmp(argv[i], "-h")) {
      std::fputs(usage, stdout);
      *exitCode = 0;
      return false;
    }
    bool known = false;
    for (const auto& slot : slots) {
      if (std::strcmp(argv[i], slot.first) != 0) continue;
      if (i + 1 >= argc) break;
      *slot.second = argv[++i];
      known = true;
    }
    if (!known) {
      std::fprintf(stderr, "ulmet-publish: unexpected '%s'\n%s", argv[i], usage);
      *exitCode = 2;
      return false;
    }
  }
  for (const auto& slot : slots) {
    if (slot.second->empty()) {
      std::fprintf(stderr, "ulmet-publish: %s is missing\n%s", slot.first, usage);
      *exitCode = 2;
      return false;
    }
  }
  return true;
}

int Fail(const std::string& error) {
  std::fprintf(stderr, "ulmet-publish: %s\n", error.c_str());
  return 1;
}

}  // namespace

int ulp::RunKeygen(int argc, char** argv) {
  std::string base;
  int exitCode = 0;
  if (!ParseOptions(argc, argv, kKeygenUsage, {{"--out", &base}}, &exitCode)) return exitCode;
  KeyPair key;
  std::string error;
  if (!MakeKeyPair(&key, &error)) return Fail(error);
  // The private half first: a public key without its private half is no use.
  if (!WriteNewFile(base + ".key", FormatPrivateKey(key), true, &error)) return Fail(error);
  if (!WriteNewFile(base + ".pub", ul::FormatPublicKey(key.publicKey), false, &error)) {
    std::remove((base + ".key").c_str());
    return Fail(error);
  }
  std::printf("private key %s.key (keep it off the web server)\npublic key  %s.pub\n", base.c_str(),
              base.c_str());
  return 0;
}

int ulp::RunSign(int argc, char** argv) {
  std::string tree;
  std::string keyFile;
  int exitCode = 0;
  if (!ParseOptions(argc, argv, kSignUsage, {{"--tree", &tree}, {"--key", &keyFile}}, &exitCode))
    return exitCode;
  const auto start = std::chrono::steady_clock::now();
  SignReport report;
  std::string error;
  if (!SignTree(tree, keyFile, &report, &error)) return Fail(error);
  const double seconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  std::printf("signed release %d: %zu files, %llu bytes (%.2f s)\n  manifest  %s\n  signature %s\n"
              "  for keyed updaters built before: %s, %s\n",
              report.version, report.files, static_cast<unsigned long long>(report.bytes), seconds,
              report.manifestFile.c_str(), report.signatureFile.c_str(),
              report.legacyManifestFile.c_str(), report.legacySignatureFile.c_str());
  return 0;
}
