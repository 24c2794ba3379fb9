#include "store/disk.h"

#include <sys/statvfs.h>

#include "store/store.h"

namespace ulr {

std::string StoreFolder(const std::string& address) {
  if (StoreKind(address) != "SQLite") return "";
  const std::string path = address.substr(address.find(':') + 1);
  const std::size_t slash = path.rfind('/');
  if (slash == std::string::npos) return ".";
  return slash == 0 ? "/" : path.substr(0, slash);
}

bool FreeBytes(const std::string& folder, std::uint64_t* bytes) {
  struct statvfs s {};
  if (folder.empty() || statvfs(folder.c_str(), &s) != 0) return false;
  *bytes = static_cast<std::uint64_t>(s.f_bavail) * s.f_frsize;
  return true;
}

}  // namespace ulr
