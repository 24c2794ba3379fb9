// The room left on the disk that a store writes to, for the free-space
// floor below which posts are refused.
#pragma once

#include <cstdint>
#include <string>

namespace ulr {

// The folder whose disk holds the store: the file's folder for
// "sqlite:PATH"; empty for PostgreSQL, whose files lie with its server.
std::string StoreFolder(const std::string& address);

// Bytes that an unprivileged writer may still use on folder's disk; false
// when it cannot be told.
bool FreeBytes(const std::string& folder, std::uint64_t* bytes);

}  // namespace ulr
