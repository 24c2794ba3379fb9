// Client folders the updater could not be given as they are: each refusal
// names the file and says why; names it can take pass.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tree/client_scan.h"
#include "system/disk_names.h"
#include "tree/tree_layout.h"

namespace {

using Strings = std::vector<std::string>;

std::string Cp949(const std::string& utf8) {
  std::string out;
  EXPECT_TRUE(ulp::Utf8ToCp949(utf8, &out)) << utf8;
  return out;
}

// The problems of a client folder holding UlmetMain.exe and these files
// (names in code page 949; a size of 0 is an empty file).
Strings Problems(const std::vector<std::pair<std::string, int>>& files) {
  ulp::ClientScan scan;
  scan.files.push_back({"UlmetMain.exe", {}, 10});
  for (const auto& f : files) scan.files.push_back({f.first, {}, static_cast<std::uintmax_t>(f.second)});
  return ulp::ClientProblems(scan, ulp::DefaultHashExclusions(), "C:\\Ulmet");
}

struct Refusal {
  std::string name;
  int size;
  const char* why;  // part of the message
};

const std::string k250(250, 'n');

const Refusal kRefused[] = {
    {"a!b.txt", 5, "'!'"},
    {"Data/a:b.txt", 5, "':'"},
    {"-minus.dll", 5, "deletion"},
    {"=equals.dll", 5, "deletion"},
    {"Ulmet3_install.exe", 5, "installer marker"},
    {"Tools/ulmet.ex_old", 5, "its own new copy"},
    {"My ULMET_INSTALL.EXE.txt", 5, "full installer"},
    {"Data/music.zip", 5, "unpack"},
    {"Data/gzip", 5, "unpack"},
    {"Data/CON.txt", 5, "path gate"},
    {"tab\tname.txt", 5, "list reader"},
    {"Data/" + k250, 5, "path gate"},                    // 9 + 5 + 250 > 259
    {"Data/" + std::string(243, 'k'), 5, "~dl"},          // 257 characters, its partial 260
    {std::string(260, 'm'), 5, "259 characters"},        // its deletion would be cut
    {"trailing./x.txt", 5, "stored by Windows as"},
    {"blank /x.txt", 5, "stored by Windows as"},
    {"Data/;notes.txt", 5, "comment"},
    {"empty.cfg", 0, "is empty"},
};

TEST(NameRules, RefusedNamesAreNamedWithTheReason) {
  for (const Refusal& r : kRefused) {
    const Strings problems = Problems({{r.name, r.size}});
    ASSERT_EQ(problems.size(), 1u) << r.name;
    EXPECT_EQ(problems[0].rfind(ulp::Shown(r.name) + ": ", 0), 0u) << problems[0];
    EXPECT_NE(problems[0].find(r.why), std::string::npos) << problems[0];
  }
}

TEST(NameRules, NamesTheUpdaterTakesAsTheyAre) {
  EXPECT_EQ(Problems({{"my file.txt", 1},
                      {"Data/Skins/blue/a.bmp", 1},
                      {Cp949("그림/하늘.bmp"), 1},
                      {"Ulmet.exe", 1},
                      {"Log/;crash.log", 1},  // the hash list leaves Log/ out
                      {"Data/" + std::string(242, 'k'), 1}}),  // 256, its partial 259
            Strings{});
}

TEST(NameRules, LetterCaseAndTheClientModule) {
  ulp::ClientScan scan;
  scan.files = {{"a.dll", {}, 1}, {"A.DLL", {}, 1}, {"data", {}, 1}, {"Data/x", {}, 1}};
  const Strings problems = ulp::ClientProblems(scan, {}, "C:\\Ulmet");
  ASSERT_EQ(problems.size(), 3u);
  EXPECT_EQ(problems[0].rfind("A.DLL and a.dll: differ only in letter case", 0), 0u) << problems[0];
  EXPECT_EQ(problems[1].rfind("Data and data: differ only in letter case", 0), 0u) << problems[1];
  EXPECT_EQ(problems[2].rfind("UlmetMain.exe: not in the client folder", 0), 0u) << problems[2];
}

}  // namespace
