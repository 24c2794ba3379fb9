#include "formats/base/safe_path.h"

#include <gtest/gtest.h>

#include <string>

#include "formats/base/bounded.h"

namespace {

TEST(SafePath, RelativeNamesInsideTheFolder) {
  for (const char* ok : {"a.dll", "data\\pack.zip", "data/pack.zip", ".\\x", "a..b", "..a",
                         "a\\..b\\c", "\xB1\xDB\\\xC7\xD1.dat", "a\\\\b", "dir\\"}) {
    EXPECT_TRUE(ul::IsSafeRelativePath(ok)) << ok;
  }
  for (const char* bad : {"", "\\abs", "/abs", "\\\\server\\share", "C:\\Windows", "C:x", "a:b",
                          "..", "..\\x", "../x", "a\\..", "a/../../b", "a\\..\\b", "...",
                          ".. \\x", "a\\. .\\b"}) {
    EXPECT_FALSE(ul::IsSafeRelativePath(bad)) << bad;
  }
  EXPECT_FALSE(ul::IsSafeRelativePath(nullptr));
}

TEST(SafePath, FolderSuffixes) {
  for (const char* ok : {"", "\\", "data\\", "\\data\\", ".\\"}) {
    EXPECT_TRUE(ul::StaysInsideFolder(ok)) << ok;
  }
  for (const char* bad : {"..\\", "\\..\\", "a\\..\\..\\", "C:\\", "x:"}) {
    EXPECT_FALSE(ul::StaysInsideFolder(bad)) << bad;
  }
}

constexpr const char* kClient = "C:\\Games\\Ulmet\\";

struct GateCase {
  const char* name;
  const char* resolved;  // below kClient; nullptr when the gate must refuse
};

// Names as the worker hands them over: '!' already a blank, a hash entry's
// folder and file name already joined.
const GateCase kGateCases[] = {
    // Good names keep working.
    {"a.dll", "a.dll"},
    {"data\\pack.zip", "data\\pack.zip"},
    {"data/sub/x.txt", "data\\sub\\x.txt"},
    {"read me.txt", "read me.txt"},
    {"a!b.txt", "a!b.txt"},
    {"a.b.c.txt", "a.b.c.txt"},
    {"..hidden", "..hidden"},
    {"\xB1\xDB\\\xC7\xD1.dat", "\xB1\xDB\\\xC7\xD1.dat"},
    // Windows' own rewriting, resolved here once.
    {"\\x.txt", "x.txt"},                   // a hash folder "\" before the name
    {"\\data\\y.txt", "data\\y.txt"},       // hash folder "\data\"
    {"\\\\host\\share\\z.txt", "host\\share\\z.txt"},
    {".\\x.txt", "x.txt"},
    {"a\\\\b//c", "a\\b\\c"},
    {"sub\\..\\x", "x"},
    {"name. .", "name"},
    {"dir \\file", "dir\\file"},
    // Out of the folder, or the folder itself.
    {"", nullptr},
    {".", nullptr},
    {".\\", nullptr},
    {".\\.", nullptr},
    {"\\", nullptr},
    {"sub\\..", nullptr},
    {"..", nullptr},
    {"..\\evil.dll", nullptr},
    {"../evil.dll", nullptr},
    {"...\\evil.dll", nullptr},
    {".. \\evil.dll", nullptr},  // "..!\evil.dll" after '!' became a blank
    {". .\\evil.dll", nullptr},
    {"..\\..\\Windows\\x.dll", nullptr},
    {"a\\..\\..\\x", nullptr},
    {". \\x", nullptr},
    // Drives, streams, device paths, devices and characters Windows refuses.
    {"C:\\Windows\\x.dll", nullptr},
    {"C:x.dll", nullptr},
    {"\\\\?\\C:\\x.dll", nullptr},
    {"\\\\.\\PhysicalDrive0", "PhysicalDrive0"},  // below the folder, a plain name
    {"\\\\.\\C:", nullptr},
    {"x.txt::$DATA", nullptr},
    {"x.txt:alt", nullptr},
    {"NUL", nullptr},
    {"nul.txt", nullptr},
    {"AUX", nullptr},
    {"aux.txt", nullptr},
    {"PRN", nullptr},
    {"CONIN$", nullptr},
    {"sub\\CON .log", nullptr},
    {"com1", nullptr},
    {"LPT9.dat", nullptr},
    {"conout$", nullptr},
    {"COM\xA9\xF6", nullptr},  // COM and a superscript one: a device as well
    {"sub\\lpt\xA9\xF8.txt", nullptr},
    {"Com\xA9\xF7 .log", nullptr},
    {"COM\xA9\xF9", "COM\xA9\xF9"},  // superscript four is no digit to Windows
    {"COM0", "COM0"},
    {"CONSOLE.txt", "CONSOLE.txt"},
    {"a*b", nullptr},
    {"a?b", nullptr},
    {"a\"b", nullptr},
    {"a|b", nullptr},
    {"a<b>", nullptr},
    {"a\tb", nullptr},
};

TEST(SafePath, GateResolvesNamesInsideTheClientFolder) {
  for (const GateCase& c : kGateCases) {
    char out[ul::kPathCap] = "unchanged";
    bool ok = ul::ResolveInsideFolder(kClient, c.name, out);
    if (c.resolved == nullptr) {
      EXPECT_FALSE(ok) << "'" << c.name << "' gave " << out;
      EXPECT_STREQ("", out) << c.name;
    } else {
      EXPECT_TRUE(ok) << "'" << c.name << "'";
      EXPECT_EQ(std::string(kClient) + c.resolved, out) << c.name;
    }
  }
}

TEST(SafePath, GateFolderForms) {
  char out[ul::kPathCap];
  struct {
    const char* folder;
    const char* expected;  // for the name "x\y"; nullptr: refused
  } const cases[] = {
      {"C:\\Games\\Ulmet", "C:\\Games\\Ulmet\\x\\y"},
      {"c:/Games//Ulmet/", "c:\\Games\\Ulmet\\x\\y"},
      {"C:\\", "C:\\x\\y"},
      {"\\\\server\\share", "\\\\server\\share\\x\\y"},
      {"\\\\server\\share\\Ulmet\\", "\\\\server\\share\\Ulmet\\x\\y"},
      {"Games\\Ulmet", nullptr},
      {"C:Games", nullptr},
      {"\\\\?\\C:\\Games", nullptr},
      {"\\\\server", nullptr},
      {"C:\\Games\\..\\..", nullptr},
      {"", nullptr},
  };
  for (const auto& c : cases) {
    bool ok = ul::ResolveInsideFolder(c.folder, "x\\y", out);
    if (c.expected == nullptr) {
      EXPECT_FALSE(ok) << c.folder;
    } else {
      EXPECT_TRUE(ok) << c.folder;
      EXPECT_STREQ(c.expected, out) << c.folder;
    }
  }
  // A climb inside the folder's own path moves the root, and the name still
  // cannot leave it.
  ASSERT_TRUE(ul::ResolveInsideFolder("C:\\Games\\Old\\..\\Ulmet\\", "x", out));
  EXPECT_STREQ("C:\\Games\\Ulmet\\x", out);
  EXPECT_FALSE(ul::ResolveInsideFolder("C:\\Games\\Old\\..\\Ulmet\\", "..\\Old\\x", out));
  EXPECT_FALSE(ul::ResolveInsideFolder(nullptr, "x", out));
  EXPECT_FALSE(ul::ResolveInsideFolder(kClient, nullptr, out));
}

TEST(SafePath, GateNeverCutsAPath) {
  char out[ul::kPathCap];
  std::string longest(259 - std::string(kClient).size(), 'a');
  EXPECT_TRUE(ul::ResolveInsideFolder(kClient, longest.c_str(), out));
  EXPECT_FALSE(ul::ResolveInsideFolder(kClient, (longest + "a").c_str(), out));
  // Over-long before resolution, short after it.
  std::string climbs = std::string(300, 'b') + "\\..\\x";
  EXPECT_FALSE(ul::ResolveInsideFolder(kClient, climbs.c_str(), out));
  std::string dots;
  for (int i = 0; i < 200; ++i) dots += ".\\";
  EXPECT_TRUE(ul::ResolveInsideFolder(kClient, (dots + "x").c_str(), out));
  char small[20];
  EXPECT_FALSE(ul::ResolveInsideFolder(kClient, "abcdefgh.txt", small));
  EXPECT_STREQ("", small);
}

}  // namespace
