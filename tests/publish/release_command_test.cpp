// init and release on real folders: what a client reads from the result,
// and that a release that fails leaves the tree exactly as it was.
#include <gtest/gtest.h>
#include <unzip.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "commands/chunk_indexes.h"
#include "formats/patches/patch_decoder.h"
#include "formats/patches/patch_list.h"
#include "commands/commands.h"
#include "system/folder_swap.h"
#include "verify/verify.h"
#include "system/tree_lock.h"
#include "tree/file_digest.h"
#include "tree/server_lists.h"

namespace {

namespace fs = std::filesystem;
using Strings = std::vector<std::string>;
using Files = std::map<std::string, std::string>;  // relative path -> bytes

void Put(const fs::path& root, const Files& files) {
  for (const auto& f : files) {
    fs::create_directories((root / f.first).parent_path());
    std::ofstream(root / f.first, std::ios::binary) << f.second;
  }
}

// Every file below root with its bytes.
Files Snapshot(const fs::path& root) {
  Files files;
  for (auto it = fs::recursive_directory_iterator(root); it != fs::recursive_directory_iterator(); ++it) {
    if (!it->is_regular_file()) continue;
    std::ifstream in(it->path(), std::ios::binary);
    std::ostringstream bytes;
    bytes << in.rdbuf();
    files[it->path().lexically_relative(root).generic_string()] = bytes.str();
  }
  return files;
}

// Runs a command with its words; *err gets what it wrote on stderr.
int Command(int (*command)(int, char**), Strings words, std::string* err = nullptr) {
  std::vector<char*> argv;
  for (auto& w : words) argv.push_back(&w[0]);
  testing::internal::CaptureStderr();
  const int code = command(static_cast<int>(argv.size()), argv.data());
  const std::string text = testing::internal::GetCapturedStderr();
  if (err != nullptr) *err = text;
  return code;
}

Strings ZipMembers(const fs::path& zip) {
  Strings names;
  unzFile uf = unzOpen(zip.c_str());
  for (int r = uf ? unzGoToFirstFile(uf) : UNZ_END_OF_LIST_OF_FILE; r == UNZ_OK; r = unzGoToNextFile(uf)) {
    char name[512];
    unz_file_info info;
    unzGetCurrentFileInfo(uf, &info, name, sizeof name, nullptr, 0, nullptr, 0);
    names.push_back(name);
  }
  if (uf) unzClose(uf);
  return names;
}

class Release : public testing::Test {
 protected:
  void SetUp() override {
    dir_ = fs::path(testing::TempDir()) /
           ("ulp_release_" + std::string(testing::UnitTest::GetInstance()->current_test_info()->name()));
    fs::remove_all(dir_);
    client_ = (dir_ / "client").string();
    tree_ = (dir_ / "tree").string();
    Put(client_, {{"UlmetMain.exe", "client 1"}, {"Ulmet.exe", "updater 1"}, {"a.dll", "a 1"},
                  {"my file.txt", "blank"}, {"Old/sub/x.dat", "x"}, {"Data/Skins/blue/p.bmp", "blue"},
                  {"Data/config.ini", "cfg"}});
    ASSERT_EQ(Command(ulp::RunInit, {"--client", client_, "--out", tree_}), 0);
  }
  void TearDown() override { fs::remove_all(dir_); }

  Strings ReadByClientAt(int version) {
    Strings names;
    int newVersion = 0;
    EXPECT_TRUE(ulp::CollectAsClient(fs::path(tree_) / "Ulmet3/UpdateList.dat", version, &names, &newVersion));
    return names;
  }

  fs::path dir_;
  std::string client_, tree_;
};

TEST_F(Release, ChangesReachTheClientAsPlanned) {
  fs::remove_all(fs::path(client_) / "Old");
  fs::remove(fs::path(client_) / "my file.txt");
  Put(client_, {{"a.dll", "a 2"}, {"Ulmet.exe", "updater 2"}, {"Data/Skins/red/q.bmp", "red"}});
  ASSERT_EQ(Command(ulp::RunRelease, {"--tree", tree_, "--client", client_, "--archive", "Data/Skins/"}), 0);

  EXPECT_EQ(ReadByClientAt(1000), (Strings{"=Old", "-my!file.txt", "a.dll", "Data/Skins.zip", "Ulmet.ex_"}));
  const Files served = Snapshot(tree_);
  EXPECT_EQ(served.at("Ulmet3/files/Ulmet.ex_"), "updater 2");
  EXPECT_EQ(served.at("Ulmet3/files/Old/sub/x.dat"), "x");  // older lines may still name it
  EXPECT_EQ(served.at("Ulmet3/files/Data/Skins/red/q.bmp"), "red");  // for the hash list's repair
  EXPECT_EQ(ZipMembers(fs::path(tree_) / "Ulmet3/files/Data/Skins.zip"),
            (Strings{"Skins/", "Skins/blue/", "Skins/blue/p.bmp", "Skins/red/", "Skins/red/q.bmp"}));
  EXPECT_TRUE(fs::exists(tree_ + ".previous/Ulmet3/files/a.dll"));
  EXPECT_EQ(Snapshot(tree_ + ".previous").at("Ulmet3/files/a.dll"), "a 1");

  // The archive folder is remembered: the next change in it is an archive
  // again. What a played client gathers is never published.
  Put(client_, {{"Data/Skins/blue/p.bmp", "blue 2"}, {"Log/crash.log", "c"}, {"userdata/save.dat", "s"},
                {"Ulmet.e__", "old updater"}, {"bvx.dl_", "old component"}, {"a.dll~dl", "part"},
                {"Data/config.ini~part", "part"}, {"Data/config.ini~journal", "journal"}});
  ASSERT_EQ(Command(ulp::RunRelease, {"--tree", tree_, "--client", client_}), 0);
  EXPECT_EQ(ReadByClientAt(1001), Strings{"Data/Skins.zip"});
  for (const char* made : {"Log/crash.log", "userdata/save.dat", "Ulmet.e__", "bvx.dl_", "a.dll~dl",
                           "Data/config.ini~part", "Data/config.ini~journal"})
    EXPECT_EQ(Snapshot(tree_).count(std::string("Ulmet3/files/") + made), 0u) << made;
  EXPECT_EQ(Snapshot(tree_ + ".previous").at("Ulmet3/files/a.dll"), "a 2");
}

struct Failure {
  const char* what;
  void (*arrange)(const fs::path& client, const fs::path& tree);
  Strings extraWords;
  const char* message;  // part of what stderr says
};

const Failure kFailures[] = {
    {"a name the updater would read back otherwise",
     [](const fs::path& c, const fs::path&) { Put(c, {{"a.dll", "a 2"}, {"Data/bad!name.txt", "x"}}); },
     {}, "Data/bad!name.txt: contains '!'"},
    {"a version not above the tree's",
     [](const fs::path& c, const fs::path&) { Put(c, {{"a.dll", "a 2"}}); },
     {"--version", "1000"}, "not above"},
    {"nothing changed", [](const fs::path&, const fs::path&) {}, {}, "nothing to release"},
    {"an archive folder the client folder does not have",
     [](const fs::path& c, const fs::path&) { Put(c, {{"a.dll", "a 2"}}); },
     {"--archive", "Data/None"}, "no such folder"},
    {"a link in the client folder",
     [](const fs::path& c, const fs::path&) {
       Put(c.parent_path() / "private", {{"secret.txt", "not for players"}});
       Put(c, {{"a.dll", "a 2"}});
       fs::create_symlink(c.parent_path() / "private/secret.txt", c / "Data/secret.txt");
     },
     {}, "Data/secret.txt: is a link"},
    {"an archive folder that is a link",
     [](const fs::path& c, const fs::path&) {
       Put(c.parent_path() / "private", {{"secret.txt", "not for players"}});
       fs::create_directory_symlink(c.parent_path() / "private", c / "Data/Linked");
     },
     {"--archive", "Data/Linked"}, "Data/Linked: is a link"},
    {"a name whose partial download would be too long",
     [](const fs::path& c, const fs::path&) {
       // Below C:\Program Files\Ulmet\ the path has 259 characters: the
       // gate takes it, the downloader's "~dl" name would not fit.
       Put(c, {{"Data/" + std::string(230, 'k'), "k"}});
     },
     {}, "~dl"},
    {"a signed tree released without its key",
     [](const fs::path& c, const fs::path& t) {
       Put(c, {{"a.dll", "a 2"}});
       Command(ulp::RunSign, {"--tree", t.string(), "--key", ULP_TEST_KEYS "test-release.key"});
     },
     {}, "the tree is signed"},
    {"a failure while the new tree is written",
     [](const fs::path& c, const fs::path& t) {
       Put(c, {{"a.dll", "a 2"}});
       std::ofstream(t / "ulmet-publish.cfg", std::ios::app) << "hash-list /Ulmet3/files/a.dll/list\n";
     },
     {}, "cannot"},
    // Last: the tree's settings keep what each case adds to them.
    {"a chunk list among the update files",
     [](const fs::path& c, const fs::path& t) {
       Put(c, {{"a.dll", "a 2"}});
       std::ofstream(t / "ulmet-publish.cfg", std::ios::app) << "chunk-list /Ulmet3/files/chunks/list.dat\n";
     },
     {}, "chunk-list must not lie below update-files"},
};

TEST_F(Release, AFailedReleaseLeavesTheTreeAsItWas) {
  for (const Failure& f : kFailures) {
    fs::remove_all(client_);
    Put(client_, {{"UlmetMain.exe", "client 1"}, {"Ulmet.exe", "updater 1"}, {"a.dll", "a 1"},
                  {"my file.txt", "blank"}, {"Old/sub/x.dat", "x"}, {"Data/Skins/blue/p.bmp", "blue"},
                  {"Data/config.ini", "cfg"}});
    f.arrange(client_, tree_);
    const Files before = Snapshot(tree_);
    Strings words = {"--tree", tree_, "--client", client_};
    words.insert(words.end(), f.extraWords.begin(), f.extraWords.end());
    std::string err;
    EXPECT_EQ(Command(ulp::RunRelease, words, &err), 1) << f.what;
    EXPECT_NE(err.find(f.message), std::string::npos) << f.what << ": " << err;
    EXPECT_NE(err.find("unchanged"), std::string::npos) << f.what << ": " << err;
    EXPECT_EQ(Snapshot(tree_), before) << f.what;
    EXPECT_FALSE(fs::exists(tree_ + ".new")) << f.what;
    EXPECT_FALSE(fs::exists(tree_ + ".previous")) << f.what;
  }
}

TEST_F(Release, SignedTreeGoesUnsignedOnlyWhenAskedAndThenWithoutItsOldSignature) {
  ASSERT_EQ(Command(ulp::RunSign, {"--tree", tree_, "--key", ULP_TEST_KEYS "test-release.key"}), 0);
  ASSERT_EQ(Snapshot(tree_).count("Ulmet3/ULRelease.sig"), 1u);
  ASSERT_EQ(Snapshot(tree_).count("UlLaunch/ULRelease2.sig"), 1u);
  Put(client_, {{"a.dll", "a 2"}});
  ASSERT_EQ(Command(ulp::RunRelease, {"--tree", tree_, "--client", client_, "--unsigned"}), 0);
  for (const char* file : {"Ulmet3/ULRelease.sig", "Ulmet3/ULRelease.dat", "UlLaunch/ULRelease2.sig",
                           "UlLaunch/ULRelease2.dat"})
    EXPECT_EQ(Snapshot(tree_).count(file), 0u) << file;
  EXPECT_EQ(ReadByClientAt(1000), Strings{"a.dll"});
}

// Bytes without repetition, cut into several chunks.
std::string Noise(std::size_t n, unsigned seed) {
  std::string s(n, '\0');
  for (auto& c : s) c = static_cast<char>((seed = seed * 1103515245u + 12345u) >> 23);
  return s;
}

// The index as the updater would read it for the client file's bytes.
std::string IndexOf(const fs::path& file) {
  ul::ChunkIndex index;
  std::string bytes;
  EXPECT_TRUE(ulp::IndexOfFile(file, &index) && ul::FormatChunkIndex(index, &bytes)) << file;
  return bytes;
}

TEST_F(Release, BigFilesGetChunkIndexesThatFollowTheirChanges) {
  const fs::path tree = dir_ / "chunked";
  const std::string key = ULP_TEST_KEYS "test-release.key";
  Put(client_, {{"Data/big.pak", Noise(300000, 1)}, {"my big.pak", Noise(200000, 2)}, {"keep.pak", Noise(150000, 3)}});
  ASSERT_EQ(Command(ulp::RunInit, {"--client", client_, "--out", tree.string(), "--chunk-index-from", "150000",
                                   "--key", key}),
            0);
  Files served = Snapshot(tree);
  EXPECT_EQ(served.at("Ulmet3/chunks/ULChunkList.dat"), "ulmet-chunks 1\nData/big.pak\nkeep.pak\nmy!big.pak\n");
  EXPECT_NE(served.at("UlLaunch/ULProgram.cfg").find("[CHUNKLIST]\n/Ulmet3/chunks/ULChunkList.dat\n"),
            std::string::npos);
  EXPECT_EQ(served.at("Ulmet3/chunks/Data/big.pak.chunks"), IndexOf(fs::path(client_) / "Data/big.pak"));
  EXPECT_EQ(served.at("Ulmet3/chunks/my!big.pak.chunks"), IndexOf(fs::path(client_) / "my big.pak"));
  for (const char* signed_ : {" /Ulmet3/chunks/ULChunkList.dat\n", " /Ulmet3/chunks/my!big.pak.chunks\n"})
    EXPECT_NE(served.at("Ulmet3/ULRelease.dat").find(signed_), std::string::npos) << signed_;
  EXPECT_EQ(Command(ulp::RunVerify, {tree.string()}), 0);

  // One file changes, one goes, one comes; the unchanged one keeps its index.
  fs::remove(fs::path(client_) / "my big.pak");
  Put(client_, {{"Data/big.pak", Noise(300000, 4)}, {"new.pak", Noise(160000, 5)}});
  ASSERT_EQ(Command(ulp::RunRelease, {"--tree", tree.string(), "--client", client_, "--key", key}), 0);
  served = Snapshot(tree);
  EXPECT_EQ(served.at("Ulmet3/chunks/ULChunkList.dat"), "ulmet-chunks 1\nData/big.pak\nkeep.pak\nnew.pak\n");
  EXPECT_EQ(served.at("Ulmet3/chunks/Data/big.pak.chunks"), IndexOf(fs::path(client_) / "Data/big.pak"));
  EXPECT_EQ(served.at("Ulmet3/chunks/new.pak.chunks"), IndexOf(fs::path(client_) / "new.pak"));
  EXPECT_EQ(served.count("Ulmet3/chunks/my!big.pak.chunks"), 0u);
  EXPECT_TRUE(fs::equivalent(tree / "Ulmet3/chunks/keep.pak.chunks",
                             tree.string() + ".previous/Ulmet3/chunks/keep.pak.chunks"))
      << "carried over, not made again";
  EXPECT_EQ(Command(ulp::RunVerify, {tree.string()}), 0);
}

// The patches listed for target, by the version of their base (found by
// the base's bytes among versions).
std::map<int, std::string> PatchesOf(const fs::path& tree, const std::string& target,
                                     const std::map<int, std::string>& versions) {
  const Files served = Snapshot(tree);
  ul::PatchList list;
  const std::string& text = served.at("Ulmet3/patches/ULPatchList.dat");
  EXPECT_TRUE(list.Parse(text.data(), text.size())) << text;
  std::map<int, std::string> made;
  for (const ul::PatchEntry& e : list.entries()) {
    if (e.target != target) continue;
    for (const auto& v : versions) {
      std::string md5;
      const fs::path scratch = tree.parent_path() / "scratch";
      Put(scratch.parent_path(), {{"scratch", v.second}});
      if (ulp::ChainedDigest(scratch, &md5) && md5 == e.baseMd5)
        made[v.first] = served.at("Ulmet3/patches/" + e.patch);
    }
  }
  return made;
}

// What a patch makes of its base; empty when it does not finish.
std::string Applied(const std::string& base, const std::string& patch, std::size_t size) {
  std::string out(size, '\0');
  ul::PatchDecoder d;
  return d.Start(base.data(), base.size(), &out[0], size) && d.Feed(patch.data(), patch.size()) && d.Finished()
             ? out
             : std::string();
}

TEST_F(Release, ChangedFilesGetPatchesFromTheirEarlierVersions) {
  const fs::path tree = dir_ / "patched";
  const std::string key = ULP_TEST_KEYS "test-release.key";
  std::map<int, std::string> game = {{1000, Noise(400000, 7)}};
  game[1001] = game[1000].substr(0, 100000) + Noise(3000, 8) + game[1000].substr(100000);
  game[1002] = game[1001].substr(0, 300000) + Noise(2000, 9) + game[1001].substr(302000);
  Put(client_, {{"Game.exe", game[1000]}, {"Other.dll", Noise(50000, 10)}});
  ASSERT_EQ(Command(ulp::RunInit, {"--client", client_, "--out", tree.string(), "--patches"}), 0);
  EXPECT_NE(Snapshot(tree).at("UlLaunch/ULProgram.cfg").find("[PATCHLIST]\n/Ulmet3/patches/ULPatchList.dat\n"),
            std::string::npos);
  // A patch of a file that shares nothing with its base is not worth its bytes.
  Put(client_, {{"Game.exe", game[1001]}, {"Other.dll", Noise(50000, 11)}});
  std::string err;
  ASSERT_EQ(Command(ulp::RunRelease, {"--tree", tree.string(), "--client", client_}, &err), 0) << err;
  EXPECT_NE(err.find("the patch of Other.dll from version 1000 ("), std::string::npos) << err;
  EXPECT_TRUE(PatchesOf(tree, "Other.dll", {}).empty());
  auto patches = PatchesOf(tree, "Game.exe", game);
  ASSERT_EQ(patches.size(), 1u);
  EXPECT_LT(patches[1000].size(), 10000u);
  EXPECT_TRUE(Applied(game[1000], patches[1000], game[1001].size()) == game[1001]);

  // From the two newest earlier versions, which the tree's own history
  // keeps; a release that leaves the file as it was keeps its patches.
  Put(client_, {{"Game.exe", game[1002]}});
  ASSERT_EQ(Command(ulp::RunRelease, {"--tree", tree.string(), "--client", client_}), 0);
  Put(client_, {{"a.dll", "a 2"}});
  ASSERT_EQ(Command(ulp::RunRelease, {"--tree", tree.string(), "--client", client_, "--key", key}), 0);
  patches = PatchesOf(tree, "Game.exe", game);
  ASSERT_EQ(patches.size(), 2u);
  for (int base : {1000, 1001})
    EXPECT_TRUE(Applied(game[base], patches[base], game[1002].size()) == game[1002]) << base;
  const Files served = Snapshot(tree);
  EXPECT_EQ(served.count(".ulmet-history/ULHistory.dat"), 1u);
  for (const auto& f : served) {
    if (f.first.rfind(".ulmet-history/", 0) != 0 || f.first.find("ULHistory") != std::string::npos) continue;
    EXPECT_TRUE(f.second == game[1002] || f.second == game[1001] || f.second.size() < 60000) << f.first;
  }
  for (const char* file : {" /Ulmet3/patches/ULPatchList.dat\n", ".zst\n"})
    EXPECT_NE(served.at("UlLaunch/ULRelease2.dat").find(file), std::string::npos) << file << " is not signed";
  EXPECT_EQ(Command(ulp::RunVerify, {tree.string(), "--key", ULP_TEST_KEYS "test-release.pub"}), 0);

  // A patch that does not rebuild its target, listed with its own size and
  // SHA-256 so that only applying it tells.
  ul::PatchList list;
  const std::string text = served.at("Ulmet3/patches/ULPatchList.dat");
  ASSERT_TRUE(list.Parse(text.data(), text.size()));
  std::vector<ul::PatchEntry> entries = list.entries();
  const fs::path patch = tree / "Ulmet3/patches" / entries[0].patch;
  std::string bytes = served.at("Ulmet3/patches/" + entries[0].patch);
  bytes[bytes.size() / 2] ^= 0x40;
  Put(tree, {{"Ulmet3/patches/" + entries[0].patch, bytes}});
  ASSERT_TRUE(ulp::Sha256OfFile(patch, entries[0].patchSha256, &entries[0].patchSize));
  std::string rewritten;
  ASSERT_TRUE(ul::FormatPatchList(entries, &rewritten));
  Put(tree, {{"Ulmet3/patches/ULPatchList.dat", rewritten}});
  testing::internal::CaptureStdout();
  EXPECT_EQ(Command(ulp::RunVerify, {tree.string()}), 1);
  const std::string report = testing::internal::GetCapturedStdout();
  EXPECT_NE(report.find(entries[0].patch + ": does not rebuild its target: applied to its base"), std::string::npos)
      << report;
}

TEST_F(Release, OnlyOneRunPublishesATreeAtATime) {
  Put(client_, {{"a.dll", "a 2"}});
  const Files before = Snapshot(tree_);
  std::string err;
  {
    ulp::TreeLock other;
    ASSERT_TRUE(other.Acquire(tree_, &err)) << err;
    EXPECT_EQ(Command(ulp::RunRelease, {"--tree", tree_, "--client", client_}, &err), 1);
    EXPECT_NE(err.find("another ulmet-publish is publishing"), std::string::npos) << err;
    EXPECT_EQ(Snapshot(tree_), before);
  }
  EXPECT_EQ(Command(ulp::RunRelease, {"--tree", tree_, "--client", client_}, &err), 0) << err;
}

// Where the system exchanges folders in one step, the served path is never
// without a tree; the release uses that on Debian.
TEST(TreeStage, FoldersExchangeInOneStepOnThisSystem) {
  const fs::path dir = fs::path(testing::TempDir()) / "ulp_exchange";
  fs::remove_all(dir);
  Put(dir, {{"tree/which", "old"}, {"tree.new/which", "new"}});
  ASSERT_TRUE(ulp::ExchangeFolders(dir / "tree.new", dir / "tree"));
  EXPECT_EQ(Snapshot(dir), (Files{{"tree/which", "new"}, {"tree.new/which", "old"}}));
  fs::remove_all(dir);
}

// A first tree for clients installed at another version than 1000 is
// signed as that version, and verify holds the signed version against the
// tree's settings.
TEST(Init, SignsTheVersionItsClientsHaveAndVerifyHoldsItToTheSettings) {
  const fs::path dir = fs::path(testing::TempDir()) / "ulp_init_signed";
  fs::remove_all(dir);
  Put(dir / "client", {{"UlmetMain.exe", "c"}, {"a.dll", "a"}});
  const std::string tree = (dir / "tree").string();
  const auto verify = [&]() {
    std::string out = (dir / "verify.out").string();
    std::FILE* f = std::fopen(out.c_str(), "w");
    ulp::VerifyOptions options;
    options.where = tree;
    options.releaseKey = ULP_TEST_KEYS "test-release.pub";
    const int code = ulp::VerifyTree(options, f, nullptr);
    std::fclose(f);
    std::ifstream in(out);
    std::ostringstream text;
    text << in.rdbuf();
    return std::make_pair(code, text.str());
  };
  ASSERT_EQ(Command(ulp::RunInit, {"--client", (dir / "client").string(), "--out", tree, "--version", "1005",
                                   "--key", ULP_TEST_KEYS "test-release.key"}),
            0);
  const Files files = Snapshot(tree);
  for (const char* manifest : {"Ulmet3/ULRelease.dat", "UlLaunch/ULRelease2.dat"}) {
    ASSERT_EQ(files.count(manifest), 1u) << manifest;
    EXPECT_NE(files.at(manifest).find("\nversion 1005\n"), std::string::npos) << files.at(manifest);
  }
  auto v = verify();
  EXPECT_EQ(v.first, 0) << v.second;

  // Signed below the settings' version, as a tree signed without them is.
  const fs::path settings = fs::path(tree) / "ulmet-publish.cfg";
  const std::string kept = Snapshot(tree).at("ulmet-publish.cfg");
  std::string lower = kept;
  lower.replace(lower.find("\nversion 1005\n"), 14, "\nversion 1000\n");
  std::ofstream(settings, std::ios::binary) << lower;
  ASSERT_EQ(Command(ulp::RunSign, {"--tree", tree, "--key", ULP_TEST_KEYS "test-release.key"}), 0);
  std::ofstream(settings, std::ios::binary) << kept;
  v = verify();
  EXPECT_EQ(v.first, 1) << v.second;
  EXPECT_NE(v.second.find("UlLaunch/ULRelease2.dat: signed as release 1000, but the tree's settings say its "
                          "clients are at version 1005"),
            std::string::npos)
      << v.second;
  fs::remove_all(dir);
}

// The report address goes into the program configuration that the
// updaters read; anything but an http address on port 80 is refused.
TEST(Init, WritesTheReportAddressIntoTheProgramConfiguration) {
  const fs::path dir = fs::path(testing::TempDir()) / "ulp_init_report";
  fs::remove_all(dir);
  Put(dir / "client", {{"UlmetMain.exe", "c"}});
  const std::string client = (dir / "client").string(), tree = (dir / "tree").string();
  std::string err;
  ASSERT_EQ(Command(ulp::RunInit, {"--client", client, "--out", tree, "--report",
                                   "http://reports.example:80/crash/post"}, &err), 0) << err;
  const std::string config = Snapshot(tree)["UlLaunch/ULProgram.cfg"];
  EXPECT_NE(config.find("[EXCEPTIONHOST]\nreports.example\n[EXCEPTIONPATH]\n/crash/post\n"), std::string::npos)
      << config;
  for (const char* bad : {"https://r.example/p", "http://r.example:8080/p", "http://r.example", "r.example/p"})
    EXPECT_EQ(Command(ulp::RunInit, {"--client", client, "--out", tree + "2", "--report", bad}, &err), 2) << bad;
  fs::remove_all(dir);
}

TEST(Init, RefusesWithoutWritingAndKeepsAnExistingTree) {
  const fs::path dir = fs::path(testing::TempDir()) / "ulp_init_refusals";
  fs::remove_all(dir);
  Put(dir / "client", {{"UlmetMain.exe", "c"}, {"x.zip", "z"}});
  const std::string client = (dir / "client").string(), tree = (dir / "tree").string();
  std::string err;
  EXPECT_EQ(Command(ulp::RunInit, {"--client", client, "--out", tree}, &err), 1);
  EXPECT_NE(err.find("x.zip: ends in \"zip\""), std::string::npos) << err;
  EXPECT_FALSE(fs::exists(tree));
  EXPECT_FALSE(fs::exists(tree + ".new"));

  Put(tree, {{"keep.txt", "k"}});
  fs::remove(dir / "client/x.zip");
  EXPECT_EQ(Command(ulp::RunInit, {"--client", client, "--out", tree}, &err), 1);
  EXPECT_NE(err.find("--force"), std::string::npos) << err;
  EXPECT_EQ(Command(ulp::RunInit, {"--client", client, "--out", tree, "--force"}, &err), 1);
  EXPECT_NE(err.find("does not look like a published tree"), std::string::npos) << err;
  EXPECT_EQ(Snapshot(tree), (Files{{"keep.txt", "k"}}));
  EXPECT_EQ(Command(ulp::RunInit, {"--client", client, "--out", tree, "--version", "999"}, &err), 2);
  fs::remove_all(dir);
}

}  // namespace
