// Registry operations against Wine's real registry in the test prefix.
#include <windows.h>

#include <gtest/gtest.h>

#include <string>

#include "config/registry_win.h"

namespace {

const char kVersionKey[] = "SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion";

// Raw look at one value: its type and bytes, or type REG_NONE when missing.
struct RawValue {
  DWORD type = REG_NONE;
  std::string bytes;
};

RawValue Query(HKEY root, const char* key, const char* name) {
  RawValue v;
  HKEY hk;
  if (RegOpenKeyExA(root, key, 0, KEY_READ, &hk) != ERROR_SUCCESS) return v;
  char data[1024];
  DWORD size = sizeof(data);
  if (RegQueryValueExA(hk, name, nullptr, &v.type, reinterpret_cast<BYTE*>(data), &size) == ERROR_SUCCESS) {
    v.bytes.assign(data, size);
  } else {
    v.type = REG_NONE;
  }
  RegCloseKey(hk);
  return v;
}

bool KeyExists(HKEY root, const char* key) {
  HKEY hk;
  if (RegOpenKeyExA(root, key, 0, KEY_READ, &hk) != ERROR_SUCCESS) return false;
  RegCloseKey(hk);
  return true;
}

void SetRaw(HKEY root, const char* key, const char* name, DWORD type, const void* data, DWORD size) {
  HKEY hk;
  ASSERT_EQ(RegCreateKeyExA(root, key, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &hk, nullptr), ERROR_SUCCESS);
  ASSERT_EQ(RegSetValueExA(hk, name, 0, type, static_cast<const BYTE*>(data), size), ERROR_SUCCESS);
  RegCloseKey(hk);
}

void SetText(HKEY root, const char* key, const char* name, const char* text) {
  SetRaw(root, key, name, REG_SZ, text, static_cast<DWORD>(strlen(text) + 1));
}

// Keeps the prefix's product name and puts it back afterwards.
class VistaTest : public ::testing::Test {
 protected:
  void SetUp() override { saved_ = Query(HKEY_LOCAL_MACHINE, kVersionKey, "ProductName"); }
  void TearDown() override {
    if (saved_.type != REG_NONE) {
      SetRaw(HKEY_LOCAL_MACHINE, kVersionKey, "ProductName", saved_.type, saved_.bytes.data(),
             static_cast<DWORD>(saved_.bytes.size()));
    }
    RegDeleteKeyA(HKEY_CURRENT_USER, "Software\\Ulmet\\Main\\Deep");
    RegDeleteKeyA(HKEY_CURRENT_USER, "Software\\Ulmet\\Main");
    RegDeleteKeyA(HKEY_CURRENT_USER, "Software\\Ulmet");
  }
  int Detect(const char* productName) {
    HKEY hk;
    EXPECT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, kVersionKey, 0, KEY_ALL_ACCESS, &hk), ERROR_SUCCESS);
    if (productName) {
      RegSetValueExA(hk, "ProductName", 0, REG_SZ, reinterpret_cast<const BYTE*>(productName),
                     static_cast<DWORD>(strlen(productName) + 1));
    } else {
      RegDeleteValueA(hk, "ProductName");
    }
    RegCloseKey(hk);
    return IsVistaSystem();
  }
  RawValue saved_;
};

TEST_F(VistaTest, ProductNameDecidesInAnyLetterCase) {
  EXPECT_EQ(Detect("Windows Vista (TM) Business"), 1);
  EXPECT_EQ(Detect("windows vista"), 1);
  EXPECT_EQ(Detect("WINDOWS VISTA"), 1);
  EXPECT_EQ(Detect("윈도우 ViStA"), 1);
  EXPECT_EQ(Detect("Windows 7 Professional"), 0);
  EXPECT_EQ(Detect(""), 0);
  EXPECT_EQ(Detect(nullptr), 0);
  // 0x81 0x76 is one Hangul syllable whose second byte looks like 'v'; a
  // byte-wise upper-casing would read "VISTA" here.
  EXPECT_EQ(Detect("\x81vista"), 0);
}

TEST_F(VistaTest, MachineKeyMovesToCurrentUserWithValuesAndSubKeys) {
  RegDeleteKeyA(HKEY_CURRENT_USER, "Software\\Ulmet");
  SetText(HKEY_LOCAL_MACHINE, "Software\\ULMET", "MainPath", "C:\\Ulmet");
  const DWORD dword = 0x00434241;  // "ABC" then a zero byte
  SetRaw(HKEY_LOCAL_MACHINE, "Software\\ULMET", "Level", REG_DWORD, &dword, sizeof(dword));
  SetText(HKEY_LOCAL_MACHINE, "Software\\ULMET\\Main", "Running", "1");
  SetText(HKEY_LOCAL_MACHINE, "Software\\ULMET\\Main\\Deep", "Depth", "2");

  PrepareRegistryForVista();

  RawValue v = Query(HKEY_CURRENT_USER, "Software\\Ulmet", "MainPath");
  EXPECT_EQ(v.type, static_cast<DWORD>(REG_SZ));
  EXPECT_STREQ(v.bytes.c_str(), "C:\\Ulmet");
  v = Query(HKEY_CURRENT_USER, "Software\\Ulmet", "Level");
  EXPECT_EQ(v.type, static_cast<DWORD>(REG_SZ));
  EXPECT_STREQ(v.bytes.c_str(), "ABC");
  EXPECT_STREQ(Query(HKEY_CURRENT_USER, "Software\\Ulmet\\Main", "Running").bytes.c_str(), "1");
  // Deeper keys keep their place below their parent.
  EXPECT_STREQ(Query(HKEY_CURRENT_USER, "Software\\Ulmet\\Main\\Deep", "Depth").bytes.c_str(), "2");
  EXPECT_FALSE(KeyExists(HKEY_CURRENT_USER, "Software\\Ulmet\\Deep"));
  EXPECT_FALSE(KeyExists(HKEY_LOCAL_MACHINE, "Software\\ULMET"));

  PrepareRegistryForVista();  // nothing left to move: no change
  EXPECT_STREQ(Query(HKEY_CURRENT_USER, "Software\\Ulmet", "MainPath").bytes.c_str(), "C:\\Ulmet");
}

TEST(RegistryText, ReadWriteExistsAndEmptyText) {
  const char* key = "Software\\UlmetTest\\Strings";
  EXPECT_FALSE(RegistryKeyExists("Software\\UlmetTest", "Strings", 1));
  EXPECT_FALSE(KeyExists(HKEY_CURRENT_USER, key));  // the check created nothing
  EXPECT_FALSE(RegistryKeyExists(nullptr, nullptr, 1));

  EXPECT_TRUE(WriteRegistryString(key, "AppVersion", "1234", 1));
  EXPECT_TRUE(RegistryKeyExists("Software\\UlmetTest", "Strings", 1));
  EXPECT_TRUE(RegistryKeyExists(key, nullptr, 1));
  char buffer[1025] = "junk";
  EXPECT_TRUE(ReadRegistryString(key, "AppVersion", buffer, 1));
  EXPECT_STREQ(buffer, "1234");
  EXPECT_FALSE(ReadRegistryString(key, "Missing", buffer, 1));
  EXPECT_FALSE(ReadRegistryString("Software\\UlmetTest\\None", "AppVersion", buffer, 1));

  EXPECT_TRUE(WriteRegistryString(key, "Empty", "", 1));
  RawValue v = Query(HKEY_CURRENT_USER, key, "Empty");
  EXPECT_EQ(v.type, static_cast<DWORD>(REG_SZ));
  EXPECT_TRUE(v.bytes.empty() || v.bytes == std::string(1, '\0')) << v.bytes.size();
  EXPECT_TRUE(ReadRegistryString(key, "Empty", buffer, 1));
  EXPECT_STREQ(buffer, "");

  // A value that fills a whole 1025-byte buffer is cut, not overrun.
  std::string longText(1100, 'x');
  WriteRegistryText(key, "Long", longText.c_str(), true);
  char guarded[1030];
  memset(guarded, '#', sizeof(guarded));
  // Longer than the buffer: read whole, then cut to 1024 characters.
  EXPECT_TRUE(ReadRegistryString(key, "Long", guarded, 1));
  EXPECT_EQ(std::string(guarded), longText.substr(0, 1024));
  EXPECT_EQ(guarded[1025], '#');
  SetRaw(HKEY_CURRENT_USER, key, "Full", REG_BINARY, longText.data(), 1025);
  EXPECT_TRUE(ReadRegistryString(key, "Full", guarded, 1));
  EXPECT_EQ(strlen(guarded), 1024u);
  EXPECT_EQ(guarded[1025], '#');

  EXPECT_EQ(ReadRegistryText(key, "AppVersion", true), "1234");
  EXPECT_EQ(ReadRegistryText(key, "AppVersion", false), "");  // other hive
  EXPECT_EQ(ReadRegistryText(key, "Long", true), "");         // beyond 255 bytes
  DeleteKeyTree("Software", "UlmetTest", 1);
  EXPECT_FALSE(KeyExists(HKEY_CURRENT_USER, "Software\\UlmetTest"));
}

TEST(RegistryTree, DeletionRemovesDeepestFirstAndKeepsTheRest) {
  SetText(HKEY_CURRENT_USER, "Software\\UlmetTest\\Zolte\\ULMET3\\A\\B\\C", "v", "1");
  SetText(HKEY_CURRENT_USER, "Software\\UlmetTest\\Zolte\\ULMET3\\A\\D", "v", "1");
  SetText(HKEY_CURRENT_USER, "Software\\UlmetTest\\Zolte\\ULMET3\\E", "v", "1");
  SetText(HKEY_CURRENT_USER, "Software\\UlmetTest\\Zolte\\Other", "v", "1");

  HKEY root;
  ASSERT_EQ(RegOpenKeyA(HKEY_CURRENT_USER, "Software\\UlmetTest", &root), ERROR_SUCCESS);
  EXPECT_EQ(DeleteSubkeys(root, "Zolte\\ULMET3\\A"), 0);
  EXPECT_TRUE(KeyExists(root, "Zolte\\ULMET3\\A"));  // below it only
  EXPECT_FALSE(KeyExists(root, "Zolte\\ULMET3\\A\\B"));
  EXPECT_FALSE(KeyExists(root, "Zolte\\ULMET3\\A\\D"));
  EXPECT_EQ(DeleteSubkeys(root, "Zolte\\Missing"), ERROR_FILE_NOT_FOUND);
  RegCloseKey(root);

  DeleteKeyTree("Software\\UlmetTest", "Zolte\\ULMET3", 1);
  EXPECT_FALSE(KeyExists(HKEY_CURRENT_USER, "Software\\UlmetTest\\Zolte\\ULMET3"));
  EXPECT_TRUE(KeyExists(HKEY_CURRENT_USER, "Software\\UlmetTest\\Zolte\\Other"));
  DeleteKeyTree("Software\\UlmetTest\\Nowhere", "X", 1);  // missing parent: nothing happens

  // CopyKey from the current user's earlier key into Software\Ulmet.
  SetText(HKEY_CURRENT_USER, "Software\\UlmetTest\\ULMET3", "Option", "on");
  SetText(HKEY_CURRENT_USER, "Software\\UlmetTest\\ULMET3\\Sub", "Inner", "in");
  CopyKey("Software\\UlmetTest", "ULMET3", 1);
  EXPECT_STREQ(Query(HKEY_CURRENT_USER, "Software\\Ulmet", "Option").bytes.c_str(), "on");
  EXPECT_STREQ(Query(HKEY_CURRENT_USER, "Software\\Ulmet\\Sub", "Inner").bytes.c_str(), "in");
  DeleteKeyTree("Software", "Ulmet", 1);
  DeleteKeyTree("Software", "UlmetTest", 1);
  EXPECT_FALSE(KeyExists(HKEY_CURRENT_USER, "Software\\UlmetTest"));
}

}  // namespace
