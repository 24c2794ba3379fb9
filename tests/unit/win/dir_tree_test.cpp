// Folder creation, copy and deletion on real folders.
#include <windows.h>

#include <winioctl.h>

#include <cstring>

#include <gtest/gtest.h>

#include <string>

#include "file_support.h"
#include "files/dir_tree_win.h"

namespace {

using filesupport::Exists;
using filesupport::IsFolder;
using filesupport::ReadBytes;
using filesupport::ScopedFolder;
using filesupport::WriteBytes;

TEST(DirTree, MakeDirectoryPathCreatesMissingParents) {
  ScopedFolder t("mkdir");
  ASSERT_TRUE(CreateDirectoryA((t / "Top").c_str(), nullptr));
  EXPECT_EQ(MakeDirectoryPath((t / "Top\\Mid\\Leaf").c_str()), 1);
  EXPECT_TRUE(IsFolder(t / "Top\\Mid\\Leaf"));
  ASSERT_TRUE(WriteBytes(t / "Top\\Mid\\Leaf\\keep.txt", "k"));
  EXPECT_EQ(MakeDirectoryPath((t / "Top\\Mid\\Leaf").c_str()), 1);  // present: untouched
  EXPECT_EQ(ReadBytes(t / "Top\\Mid\\Leaf\\keep.txt"), "k");

  std::string slashed = t.path() + "/Fwd/Deeper/";
  EXPECT_EQ(MakeDirectoryPath(slashed.c_str()), 1);
  EXPECT_TRUE(IsFolder(t / "Fwd\\Deeper"));

  ASSERT_TRUE(WriteBytes(t / "plain.txt", "f"));
  EXPECT_EQ(MakeDirectoryPath((t / "plain.txt\\Sub").c_str()), 0);  // a file in the way
  EXPECT_EQ(MakeDirectoryPath(""), 0);
}

TEST(DirTree, CreateFolderTreeTakesFiveMissingLevelsPerCall) {
  ScopedFolder t("tree");
  EXPECT_EQ(CreateFolderTree((t / "1\\2\\3\\4\\5").c_str()), 1);
  EXPECT_TRUE(IsFolder(t / "1\\2\\3\\4\\5"));
  EXPECT_EQ(CreateFolderTree((t / "1\\2\\3\\4\\5").c_str()), 1);

  const std::string six = t / "a\\b\\c\\d\\e\\f";
  EXPECT_EQ(CreateFolderTree(six.c_str()), 0);
  EXPECT_TRUE(IsFolder(t / "a\\b"));  // some levels made on the way
  EXPECT_FALSE(IsFolder(six));
  EXPECT_EQ(CreateFolderTree(six.c_str()), 1);
  EXPECT_TRUE(IsFolder(six));

  EXPECT_EQ(CreateFolderTree(""), 0);
  EXPECT_EQ(CreateFolderTree(nullptr), 0);
  ASSERT_TRUE(WriteBytes(t / "file", "x"));
  EXPECT_EQ(CreateFolderTree((t / "file\\sub").c_str()), 0);
}

TEST(DirTree, CopyFolderTreeCopiesEverythingAndClearsSourceAttributes) {
  ScopedFolder t("copy");
  const std::string src = t / "src";
  const std::string dst = t / "dst";
  ASSERT_EQ(CreateFolderTree((src + "\\inner\\deep").c_str()), 1);
  ASSERT_TRUE(WriteBytes(src + "\\ro.txt", "read only"));
  ASSERT_TRUE(WriteBytes(src + "\\sys.dat", "system"));
  ASSERT_TRUE(WriteBytes(src + "\\hidden.ini", "hidden"));
  ASSERT_TRUE(WriteBytes(src + "\\inner\\deep\\leaf.bin", filesupport::Pattern(70000)));
  SetFileAttributesA((src + "\\ro.txt").c_str(), FILE_ATTRIBUTE_READONLY);
  SetFileAttributesA((src + "\\sys.dat").c_str(), FILE_ATTRIBUTE_SYSTEM);
  SetFileAttributesA((src + "\\hidden.ini").c_str(), FILE_ATTRIBUTE_HIDDEN);
  SetFileAttributesA((src + "\\inner").c_str(), FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_READONLY);
  ASSERT_EQ(CreateFolderTree(dst.c_str()), 1);
  ASSERT_TRUE(WriteBytes(dst + "\\ro.txt", "old copy"));

  CopyFolderTree(dst.c_str(), src.c_str());

  EXPECT_EQ(ReadBytes(dst + "\\ro.txt"), "read only");  // replaced
  EXPECT_EQ(ReadBytes(dst + "\\sys.dat"), "system");
  EXPECT_EQ(ReadBytes(dst + "\\hidden.ini"), "hidden");
  EXPECT_TRUE(filesupport::HasBytes(dst + "\\inner\\deep\\leaf.bin", filesupport::Pattern(70000)));
  EXPECT_EQ(GetFileAttributesA((src + "\\ro.txt").c_str()) & FILE_ATTRIBUTE_READONLY, 0u);
  EXPECT_EQ(GetFileAttributesA((src + "\\sys.dat").c_str()) & FILE_ATTRIBUTE_SYSTEM, 0u);
  EXPECT_EQ(GetFileAttributesA((src + "\\inner").c_str()) & FILE_ATTRIBUTE_READONLY, 0u);
  EXPECT_EQ(ReadBytes(src + "\\ro.txt"), "read only");  // the source stays

  // CopyUserData takes the old folder's UserData, with or without a '\'.
  ASSERT_EQ(CreateFolderTree((t / "old\\UserData\\save").c_str()), 1);
  ASSERT_TRUE(WriteBytes(t / "old\\UserData\\save\\slot1", "s1"));
  CopyUserData((t / "new1").c_str(), (t / "old").c_str());
  ASSERT_EQ(CreateFolderTree((t / "new2").c_str()), 1);
  CopyUserData((t / "new2").c_str(), (t / "old\\").c_str());
  EXPECT_EQ(ReadBytes(t / "new1\\save\\slot1"), "s1");
  EXPECT_EQ(ReadBytes(t / "new2\\save\\slot1"), "s1");
  EXPECT_FALSE(Exists(t / "new2\\UserData"));  // no folder name is added
}

TEST(DirTree, DeleteFolderTreeSparesFoldersBeginningWithADot) {
  ScopedFolder t("del");
  const std::string doomed = t / "doomed";
  ASSERT_EQ(CreateFolderTree((doomed + "\\a\\b").c_str()), 1);
  ASSERT_TRUE(WriteBytes(doomed + "\\a\\b\\f.txt", "x"));
  ASSERT_TRUE(WriteBytes(doomed + "\\.profile", "dot file"));
  ASSERT_TRUE(WriteBytes(doomed + "\\ro.txt", "ro"));
  SetFileAttributesA((doomed + "\\ro.txt").c_str(), FILE_ATTRIBUTE_READONLY);
  SetFileAttributesA((doomed + "\\a").c_str(), FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_READONLY);
  EXPECT_EQ(DeleteFolderTree(doomed.c_str()), 1);
  EXPECT_FALSE(Exists(doomed));

  const std::string cached = t / "cached";
  ASSERT_EQ(CreateFolderTree((cached + "\\.cache\\x").c_str()), 1);
  ASSERT_TRUE(WriteBytes(cached + "\\.cache\\x\\c.bin", "c"));
  ASSERT_TRUE(WriteBytes(cached + "\\gone.txt", "g"));
  EXPECT_EQ(DeleteFolderTree((cached + "\\*.*").c_str()), 1);
  EXPECT_EQ(ReadBytes(cached + "\\.cache\\x\\c.bin"), "c");
  EXPECT_FALSE(Exists(cached + "\\gone.txt"));
  EXPECT_TRUE(IsFolder(cached));

  EXPECT_EQ(DeleteFolderTree((t / "missing").c_str()), 0);
}

// Wine keeps its drive letters as links that its mount manager defines;
// this maps a spare letter onto a test folder (or removes it when folder is
// empty). The structure is the mount manager's request for that.
struct UnixDriveRequest {
  ULONG size, type, fsType;
  DWORD serial;
  ULONGLONG unixDev;
  WCHAR letter;
  USHORT mountPointOffset, deviceOffset, labelOffset;
};

bool MapDrive(char letter, const std::string& folder) {
  typedef char*(CDECL * UnixNameFn)(LPCWSTR);
  auto unixName = reinterpret_cast<UnixNameFn>(
      GetProcAddress(GetModuleHandleA("kernel32"), "wine_get_unix_file_name"));
  if (unixName == nullptr) return false;
  char buf[1024] = {0};
  auto* req = reinterpret_cast<UnixDriveRequest*>(buf);
  req->size = sizeof(UnixDriveRequest);
  req->type = DRIVE_NO_ROOT_DIR;
  req->letter = static_cast<WCHAR>(letter - 'A' + 'a');
  if (!folder.empty()) {
    wchar_t wide[MAX_PATH];
    MultiByteToWideChar(CP_ACP, 0, folder.c_str(), -1, wide, MAX_PATH);
    char* path = unixName(wide);
    if (path == nullptr || strlen(path) + sizeof(UnixDriveRequest) >= sizeof(buf)) return false;
    strcpy(buf + sizeof(UnixDriveRequest), path);
    HeapFree(GetProcessHeap(), 0, path);
    req->type = DRIVE_FIXED;
    req->mountPointOffset = sizeof(UnixDriveRequest);
    req->size += static_cast<ULONG>(strlen(buf + sizeof(UnixDriveRequest)) + 1);
  }
  HANDLE mgr = CreateFileA("\\\\.\\MountPointManager", GENERIC_READ | GENERIC_WRITE,
                           FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0, nullptr);
  if (mgr == INVALID_HANDLE_VALUE) return false;
  DWORD got = 0;
  const DWORD ioctl = CTL_CODE('m', 32, METHOD_BUFFERED, FILE_READ_ACCESS | FILE_WRITE_ACCESS);
  BOOL ok = DeviceIoControl(mgr, ioctl, buf, req->size, nullptr, 0, &got, nullptr);
  CloseHandle(mgr);
  return ok != FALSE;
}

TEST(DirTree, DeleteFolderTreeRefusesDriveRoots) {
  // A spare drive letter on a test folder: were the refusal broken, only
  // that folder's contents would go.
  ScopedFolder t("root");
  ASSERT_TRUE(WriteBytes(t / "witness.txt", "w"));
  ASSERT_TRUE(CreateDirectoryA((t / "sub").c_str(), nullptr));
  char letter = 0;
  for (char c = 'Q'; c <= 'Y' && !letter; ++c) {
    if (GetDriveTypeA((std::string(1, c) + ":\\").c_str()) == DRIVE_NO_ROOT_DIR && MapDrive(c, t.path())) {
      letter = c;
    }
  }
  ASSERT_NE(letter, 0) << "no spare drive letter could be mapped";
  const std::string d(1, letter);
  ASSERT_EQ(ReadBytes(d + ":\\witness.txt"), "w");  // the mapping reaches the folder

  for (const std::string& root : {d + ":\\", d + ":", d + ":\\*.*", d + ":\\.", d + ":\\sub\\..",
                                  d + ":\\\\", d + ":/", d + ":\\sub\\..\\*.*"}) {
    EXPECT_EQ(DeleteFolderTree(root.c_str()), 0) << root;
    EXPECT_TRUE(IsVolumeRoot(root.c_str())) << root;
  }
  EXPECT_EQ(ReadBytes(t / "witness.txt"), "w");
  EXPECT_TRUE(IsFolder(t / "sub"));

  EXPECT_FALSE(IsVolumeRoot((d + ":\\sub").c_str()));
  EXPECT_TRUE(IsVolumeRoot("\\\\server\\share\\"));
  EXPECT_FALSE(IsVolumeRoot("\\\\server\\share\\folder"));
  EXPECT_TRUE(MapDrive(letter, ""));
  EXPECT_FALSE(Exists(d + ":\\witness.txt"));
}

}  // namespace
