// A signature's reports as CSV or JSON, written piece by piece so that a
// signature of any size is exported in bounded memory. Texts are UTF-8
// (decoded from code page 949), times in UTC.
#pragma once

#include <cstdint>
#include <string>

#include "store/store.h"

namespace ulr {

enum class ExportFormat { kCsv, kJson };

class Export {
 public:
  Export(ReportStore& store, const SignatureSummary& signature, ExportFormat format)
      : store_(store), signature_(signature), format_(format) {}
  // The next piece into *piece; *end once the whole export is out. False,
  // with *error, when the store failed.
  bool Next(std::string* piece, bool* end, std::string* error);
  static const char* ContentType(ExportFormat format);

 private:
  ReportStore& store_;
  const SignatureSummary signature_;
  const ExportFormat format_;
  bool started_ = false, first_ = true;
  std::int64_t after_ = 0;
};

// "2026-05-01T03:04:05.678Z".
std::string UtcTime(std::int64_t ms);

}  // namespace ulr
