#include "object_safety.h"

namespace bvx {

bool ApplySafetyOptions(std::uint32_t* current, std::uint32_t mask, std::uint32_t enabled) {
  if ((mask & ~kSupportedSafety) != 0) return false;
  *current = (*current & ~enabled) | mask;
  return true;
}

}  // namespace bvx
