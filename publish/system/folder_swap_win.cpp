// Windows has no call that exchanges two folders' names; the caller moves
// them one after the other.
#include "system/folder_swap.h"

namespace ulp {

bool ExchangeFolders(const std::filesystem::path&, const std::filesystem::path&) { return false; }

}  // namespace ulp
