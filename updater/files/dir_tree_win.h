// Folder operations on the local disk: creating a folder with its missing
// parents (two ways), copying a folder tree, carrying a "UserData" folder
// over, and deleting a folder tree. No messages; results are plain ints.
#pragma once

// Creates path with every missing parent; '\' and '/' both separate. A
// trailing '/' is dropped. 1 when the folder exists afterwards, else 0 (with
// an "errno : %d" trace line and a line on standard output).
int MakeDirectoryPath(const char* path);

// Creates path ('\' separators, at most 259 characters) and its missing
// parents with at most ten CreateDirectoryA attempts, which is enough for
// five missing levels; a deeper path is completed by calling again.
// 1 success (or already there), 0 failure.
int CreateFolderTree(const char* path);

// Copies the contents of source into destination (both without a trailing
// '\'), folders recursively, replacing existing files. Read-only and system
// entries of the source are made normal first. Failures are skipped.
void CopyFolderTree(const char* destination, const char* source);

// Copies oldFolder's "UserData" folder's contents into destination.
void CopyUserData(const char* destination, const char* oldFolder);

// Deletes the folder path (optionally ending in "\*.*") with its contents.
// Folders whose names begin with '.' are left alone, and so is the parent
// that still holds them. 1 when the folder could be listed, 0 otherwise; a
// drive or share root is refused with 0 and nothing is deleted.
int DeleteFolderTree(const char* path);

// True when path names the root of a drive or of a network share ("C:",
// "C:\", "\\server\share\", with or without a trailing "*.*").
bool IsVolumeRoot(const char* path);
