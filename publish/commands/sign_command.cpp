// "keygen": a new release key pair; "sign": the manifest and signature of a
// tree's release.
#include <chrono>
#include <cstdio>
#include <cstring>
#include <string>

#include "commands/commands.h"
#include "commands/options.h"
#include "formats/trust/release_manifest.h"
#include "system/crypto.h"
#include "system/key.h"
#include "commands/manifest.h"

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

int Fail(const std::string& error) {
  std::fprintf(stderr, "ulmet-publish: %s\n", error.c_str());
  return 1;
}

}  // namespace

int ulp::RunKeygen(int argc, char** argv) {
  std::string base;
  int exitCode = 0;
  if (!Options("keygen", kKeygenUsage).Text("--out", &base, true).Read(argc, argv, &exitCode)) return exitCode;
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
  if (!Options("sign", kSignUsage).Text("--tree", &tree, true).Text("--key", &keyFile, true).Read(argc, argv, &exitCode))
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
