// Safety options that a page's host asks of the object before it lets
// script call it. No Windows API here.
#pragma once

#include <cstdint>

namespace bvx {

// Safe for untrusted callers (1) and for untrusted data (2).
constexpr std::uint32_t kSupportedSafety = 0x1 | 0x2;

// Applies a host's request to the object's current options. A mask with
// bits outside kSupportedSafety is refused (false, options untouched).
// Otherwise the bits named in enabled are taken out of the current options
// and the bits of mask are put in: a host that asks for both options with
// mask = enabled = 3, as browsers do, gets both.
bool ApplySafetyOptions(std::uint32_t* current, std::uint32_t mask, std::uint32_t enabled);

}  // namespace bvx
