// Whole-file reading, copying and comparing over OpenFile, so that any name
// the system has works on Windows too.
#pragma once

#include <filesystem>
#include <string>

namespace ulp {

bool ReadWholeFile(const std::filesystem::path& file, std::string* data);

// Copies from's bytes into a new file to; false, with *error, when either
// fails.
bool CopyBytes(const std::filesystem::path& from, const std::filesystem::path& to, std::string* error);

// True when both files can be read and hold the same bytes.
bool SameBytes(const std::filesystem::path& a, const std::filesystem::path& b);

}  // namespace ulp
