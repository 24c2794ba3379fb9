// What a release's version line says, from the previous client files and
// the new client folder.
#include "tree/release_plan.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

using Strings = std::vector<std::string>;
using ulp::FileState;

struct PlanCase {
  const char* what;
  Strings before;
  std::vector<ulp::ClientFileState> now;
  Strings extraFolders;  // folders of the new client folder that hold no file
  Strings archives;
  bool installer;
  Strings entries;
};

const FileState kSame = FileState::kUnchanged;
const FileState kChanged = FileState::kChanged;
const FileState kAdded = FileState::kAdded;

const PlanCase kCases[] = {
    {"changed and added files, unchanged ones left out",
     {"UlmetMain.exe", "b.dll", "a.dll"},
     {{"UlmetMain.exe", kSame}, {"b.dll", kChanged}, {"a.dll", kChanged}, {"Data/new.ini", kAdded}},
     {}, {}, false,
     {"Data/new.ini", "a.dll", "b.dll"}},
    {"a deleted file, its blank as '!'",
     {"UlmetMain.exe", "my file.txt"},
     {{"UlmetMain.exe", kSame}},
     {}, {}, false,
     {"-my!file.txt"}},
    {"a deleted folder is one entry, its sub-folders and files none",
     {"UlmetMain.exe", "Old/a.txt", "Old/sub/b.txt", "Old/sub/deeper/c.txt", "Data/Old/d.txt", "Data/keep.txt"},
     {{"UlmetMain.exe", kSame}, {"Data/keep.txt", kSame}},
     {}, {}, false,
     {"=Data/Old", "=Old"}},
    {"a folder still there (empty) keeps the folder: its files go one by one",
     {"UlmetMain.exe", "Cache/a.tmp", "Cache/b.tmp"},
     {{"UlmetMain.exe", kSame}},
     {"Cache"}, {}, false,
     {"-Cache/a.tmp", "-Cache/b.tmp"}},
    {"a file where a folder was is fetched after the folder goes",
     {"UlmetMain.exe", "Data/x/y.txt"},
     {{"UlmetMain.exe", kSame}, {"Data/x", kAdded}},
     {}, {}, false,
     {"=Data/x", "Data/x"}},
    {"a changed archive folder is one archive entry; its deletions stay",
     {"UlmetMain.exe", "Data/Skins/blue/a.bmp", "Data/Skins/red/b.bmp", "Data/Skins/old.bmp", "c.dll"},
     {{"UlmetMain.exe", kSame}, {"Data/Skins/blue/a.bmp", kChanged}, {"Data/Skins/red/b.bmp", kSame},
      {"Data/Skins/green/n.bmp", kAdded}, {"c.dll", kChanged}},
     {}, {"Data/Skins"}, false,
     {"-Data/Skins/old.bmp", "c.dll", "Data/Skins.zip"}},
    {"an archive folder where only a deletion happened is published again",
     {"UlmetMain.exe", "My Skins/a.bmp", "My Skins/b.bmp"},
     {{"UlmetMain.exe", kSame}, {"My Skins/a.bmp", kSame}},
     {}, {"My Skins"}, false,
     {"-My!Skins/b.bmp", "My!Skins.zip"}},
    {"an unchanged archive folder is not published",
     {"UlmetMain.exe", "Data/Skins/a.bmp", "a.dll"},
     {{"UlmetMain.exe", kSame}, {"Data/Skins/a.bmp", kSame}, {"a.dll", kChanged}},
     {}, {"Data/Skins"}, false,
     {"a.dll"}},
    {"a deleted archive folder is a folder deletion",
     {"UlmetMain.exe", "Data/Skins/a.bmp"},
     {{"UlmetMain.exe", kSame}},
     {"Data"}, {"Data/Skins"}, false,
     {"=Data/Skins"}},
    {"a changed Ulmet.exe is published as Ulmet.ex_, last",
     {"UlmetMain.exe", "Ulmet.exe", "z.dll", "Data/Skins/a.bmp"},
     {{"UlmetMain.exe", kSame}, {"Ulmet.exe", kChanged}, {"z.dll", kChanged}, {"Data/Skins/a.bmp", kChanged}},
     {}, {"Data/Skins"}, false,
     {"z.dll", "Data/Skins.zip", "Ulmet.ex_"}},
    {"a deleted Ulmet.exe is not deleted on the clients",
     {"UlmetMain.exe", "Ulmet.exe"},
     {{"UlmetMain.exe", kChanged}},
     {}, {}, false,
     {"UlmetMain.exe"}},
    {"the installer entry comes first",
     {"UlmetMain.exe", "Ulmet.exe", "gone.dll"},
     {{"UlmetMain.exe", kChanged}, {"Ulmet.exe", kChanged}},
     {}, {}, true,
     {"Ulmet_install.exe", "-gone.dll", "UlmetMain.exe", "Ulmet.ex_"}},
};

TEST(ReleasePlan, EntriesOfTheVersion) {
  for (const PlanCase& c : kCases) {
    ulp::PlanInput in;
    in.before = c.before;
    in.now = c.now;
    for (const auto& f : c.now) {
      for (auto slash = f.name.find('/'); slash != std::string::npos; slash = f.name.find('/', slash + 1))
        in.nowFolders.insert(f.name.substr(0, slash));
    }
    in.nowFolders.insert(c.extraFolders.begin(), c.extraFolders.end());
    in.archiveFolders = c.archives;
    in.installer = c.installer;
    EXPECT_EQ(ulp::PlanRelease(in).entries, c.entries) << c.what;
  }
}

TEST(ReleasePlan, ArchiveFoldersKeptOnlyWhileTheyExist) {
  ulp::PlanInput in;
  in.before = {"UlmetMain.exe", "A/x", "B/y"};
  in.now = {{"UlmetMain.exe", kSame}, {"A/x", kChanged}};
  in.nowFolders = {"A"};
  in.archiveFolders = {"A", "B"};
  const ulp::Plan plan = ulp::PlanRelease(in);
  EXPECT_EQ(plan.archives, Strings{"A"});
  EXPECT_EQ(plan.archiveFolders, Strings{"A"});
  ASSERT_EQ(plan.notes.size(), 1u);
  EXPECT_NE(plan.notes[0].find("B"), std::string::npos);
}

}  // namespace
