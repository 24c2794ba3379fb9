// Where the user data of an earlier version may be carried to.
//
// No Windows headers here: this builds natively for the sanitizer runs.
#pragma once

namespace ul {

// True when folder is an absolute folder strictly below the root of a drive
// ("C:\Ulmet") or of a share ("\\host\share\Ulmet"), as Windows resolves
// it: '/' and '\' alike, empty and "." components ignored, ".." (and any
// component of dots and blanks with two dots or more, which Windows reads
// the same way) going up one. False for an empty or relative text, a bare
// root, a drive-relative "C:name", device paths ("\\?\", "\\.\") and
// anything with a ':' after the drive. A folder for which this is false
// must not get anything created in it: it may be the root of a drive.
bool IsBelowRoot(const char* folder);

}  // namespace ul
