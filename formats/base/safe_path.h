// Checks for names that arrive from the network (update list, hash list,
// archive entries) before they become paths.
//
// ResolveInsideFolder is the gate: every file operation whose path derives
// from a server's name takes its path from it and from nowhere else. The two
// older checks are early refusals of the readers; they never decide alone.
//
// No Windows headers here: this builds natively for the sanitizer runs.
#pragma once

#include <cstddef>

#include "formats/base/partial_names.h"

namespace ul {

// Windows' own limit for a path (MAX_PATH without its terminator).
constexpr std::size_t kLongestPath = 259;

// True when a file can be downloaded to path: the partial name, path with
// kDownloadPartialSuffix (common/partial_names.h), fits in kLongestPath.
// The downloader refuses any other path, and the operators' tool refuses
// names that would lead to one.
bool DownloadPathFits(const char* path);

// Joins folder and name the way Windows resolves the result and writes the
// absolute path to out (capacity cap) only when it lies strictly inside
// folder; false otherwise, and out is then empty.
//
// folder is absolute ("C:\Games\Ulmet", with or without the last '\', or a
// share "\\server\share\dir"). name is relative to it exactly as it will be
// used on disk, after every rewrite ('!' already a blank, a folder and a file
// name already joined); '/' and '\' both separate. Resolution follows
// Windows: repeated and leading separators count as one, "." stays, ".."
// climbs, trailing dots and blanks of a component are dropped. Refused:
// climbing above folder, the folder itself (nothing left after resolution),
// any other component made only of dots and blanks (".. ", "..."), ':'
// (drives, streams) and the other characters Windows forbids in names,
// device names ("NUL", "com1.txt", "CON .x") in any component, and a result
// that does not fit in cap or in 259 characters (MAX_PATH with its
// terminator). The path written uses '\' only, has no "." or ".." and no
// trailing dot or blank in any component, so Windows reads it as it stands.
// When folderLength is given, it receives the length of the folder's part
// of out (up to and with its last '\'): what follows is the name as
// resolved.
bool ResolveInsideFolder(const char* folder, const char* name, char* out, std::size_t cap,
                         std::size_t* folderLength = nullptr);

template <std::size_t N>
bool ResolveInsideFolder(const char* folder, const char* name, char (&out)[N],
                         std::size_t* folderLength = nullptr) {
  return ResolveInsideFolder(folder, name, out, N, folderLength);
}

// True when path names something inside the current folder: not empty, not
// absolute (no leading '\' or '/'), no drive or stream (no ':' anywhere) and
// no ".." component (nor "...", ".. " and the like, which Windows reads
// the same way), with '\' and '/' both counting as separators.
bool IsSafeRelativePath(const char* path);

// True when path, appended to a folder name that ends in a separator, stays
// inside that folder: no ':' and no ".." component. Leading separators and an
// empty text are allowed (they only double the folder's separator).
bool StaysInsideFolder(const char* path);

// True when the component [begin, end) is one of the names that Windows
// opens as a device in any folder and with any extension: CON, PRN, AUX,
// NUL, COM1 to COM9, LPT1 to LPT9, CONIN$, CONOUT$ (any case, blanks
// before the extension ignored), and COM and LPT with the superscript digits
// one to three, which code page 949 writes as two bytes (A9 F6 to A9 F8).
bool IsDeviceName(const char* begin, const char* end);

}  // namespace ul
