// Linux exchanges two names in one step (renameat2 with RENAME_EXCHANGE,
// since 3.15; not every file system takes it).
#include "system/folder_swap.h"

#include <fcntl.h>
#include <stdio.h>

namespace ulp {

bool ExchangeFolders(const std::filesystem::path& a, const std::filesystem::path& b) {
#ifdef RENAME_EXCHANGE
  return renameat2(AT_FDCWD, a.c_str(), AT_FDCWD, b.c_str(), RENAME_EXCHANGE) == 0;
#else
  (void)a;
  (void)b;
  return false;
#endif
}

}  // namespace ulp
