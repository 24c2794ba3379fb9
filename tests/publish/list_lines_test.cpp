// A version's entries split into lines that the updater reads whole: fed
// back through its own list reader, every entry arrives intact and in order.
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "tree/server_lists.h"

namespace {

using Strings = std::vector<std::string>;
namespace fs = std::filesystem;

// Entries named e<i>, padded with 'x' to the lengths given.
Strings Sized(const std::vector<std::size_t>& lengths) {
  Strings entries;
  for (std::size_t i = 0; i < lengths.size(); ++i) {
    std::string e = "e" + std::to_string(i) + "_";
    e.resize(lengths[i], 'x');
    entries.push_back(e);
  }
  return entries;
}

Strings Entries(int n, std::size_t length) { return Sized(std::vector<std::size_t>(n, length)); }

// What a client at version 1001 collects from an update list with an older
// line and the given version lines.
Strings Collected(const Strings& lines, int* newVersion) {
  const fs::path file = fs::path(testing::TempDir()) / "list_lines_test.dat";
  std::string text = "[ULMET3.0]\n1001 old.dll\n";
  for (const auto& l : lines) text += l + "\n";
  std::FILE* f = std::fopen(file.c_str(), "wb");
  std::fwrite(text.data(), 1, text.size(), f);
  std::fclose(f);
  Strings names;
  EXPECT_TRUE(ulp::CollectAsClient(file, 1001, &names, newVersion));
  return names;
}

struct SplitCase {
  const char* what;
  Strings entries;
  std::size_t lines;
};

Strings WithUpdaterLast(Strings entries) {
  entries.push_back("Ulmet.ex_");
  return entries;
}

// "1002" and a blank before each entry: 4 + n * (1 + length).
const SplitCase kSplits[] = {
    {"one short entry", {"a.dll"}, 1},
    {"exactly the longest line: 4 + 102 * 10 = 1024 would not fit, 4 + 101 * 10 = 1014 does",
     Entries(101, 9), 1},
    {"one more entry starts a second line", Entries(102, 9), 2},
    {"a line of exactly 1022 characters stays whole", Sized({254, 254, 253, 253}), 1},
    {"one character more makes two lines", Sized({254, 254, 254, 253}), 2},
    {"long names over many lines, the updater's copy last", WithUpdaterLast(Entries(40, 250)), 10},
    {"many short names, the updater's copy last", WithUpdaterLast(Entries(1000, 6)), 7},
};

TEST(ListLines, EveryEntryArrivesWholeAndInOrder) {
  for (const SplitCase& c : kSplits) {
    const Strings lines = ulp::VersionLines(1002, c.entries);
    EXPECT_EQ(lines.size(), c.lines) << c.what;
    for (const auto& l : lines) {
      EXPECT_LE(l.size(), ulp::kLongestListLine) << c.what;
      EXPECT_EQ(l.compare(0, 5, "1002 "), 0) << c.what;
    }
    int version = 0;
    EXPECT_EQ(Collected(lines, &version), c.entries) << c.what;
    EXPECT_EQ(version, 1002) << c.what;
  }
}

// The reader check above can fail: a line longer than the updater reads at
// once loses what lies beyond its first piece. (At 1023 characters only the
// line feed comes as a piece of its own; the split keeps that one too.)
TEST(ListLines, AnUnsplitLongLineIsBrokenForTheUpdater) {
  Strings entries = Sized({254, 254, 254, 254});  // 1024 characters
  std::string line = "1002";
  for (const auto& e : entries) line += " " + e;
  int version = 0;
  EXPECT_NE(Collected({line}, &version), entries);
}

}  // namespace
