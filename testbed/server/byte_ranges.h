// What a request's Range header asks of a file: the test server answers one
// range of bytes with 206, as a plain web server does.
#pragma once

#include <cstdint>
#include <string>

namespace tb {

enum class RangeAsk {
  kWhole,          // no Range header, or one to pass over: the whole file, 200
  kOne,            // one satisfiable range: 206 with those bytes
  kUnsatisfiable,  // it starts at or beyond the end: 416
};

// Reads "bytes=FIRST-LAST", "bytes=FIRST-" and "bytes=-SUFFIX" against a
// file of size bytes; a last byte beyond the end is the end. Several ranges
// in one header, another unit or anything malformed are passed over (the
// whole file answers them), as HTTP allows. For kOne, [*from, *from + *count)
// is the range.
RangeAsk ParseByteRange(const std::string& header, uint64_t size, uint64_t* from, uint64_t* count);

// "bytes FIRST-LAST/SIZE".
std::string ContentRange(uint64_t from, uint64_t count, uint64_t size);

}  // namespace tb
