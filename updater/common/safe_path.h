// Checks for names that arrive from the network (update list, hash list)
// before they are used as paths relative to the client folder.
//
// No Windows headers here: this builds natively for the sanitizer runs.
#pragma once

namespace ul {

// True when path names something inside the current folder: not empty, not
// absolute (no leading '\' or '/'), no drive or stream (no ':' anywhere) and
// no ".." component (nor "...", ".. " and the like, which Windows reads
// the same way), with '\' and '/' both counting as separators.
bool IsSafeRelativePath(const char* path);

// True when path, appended to a folder name that ends in a separator, stays
// inside that folder: no ':' and no ".." component. Leading separators and an
// empty text are allowed (they only double the folder's separator).
bool StaysInsideFolder(const char* path);

}  // namespace ul
