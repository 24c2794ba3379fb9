// Two folders exchanging their places in one step, where the system can:
// the web server then finds either the whole old tree or the whole new one
// at the served path, never nothing.
#pragma once

#include <filesystem>

namespace ulp {

// True when a and b (both existing folders) have been exchanged atomically.
// False, with nothing changed, when the system or file system cannot do it;
// the caller then moves them one after the other.
bool ExchangeFolders(const std::filesystem::path& a, const std::filesystem::path& b);

}  // namespace ulp
