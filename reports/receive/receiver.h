// The receiving side: from a post's body to a stored report.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "store/committer.h"

namespace ulr {

struct Reception {
  int status = 200;
  std::string text;  // one line for the answer's body
};

// Takes a body apart and stores it through committer: 200 when stored (or
// stored before: the same body again), 400 for a body that is not the
// post's shape or encoding, 413 for a log above the limit, 503 when the
// store failed.
Reception ReceiveReport(std::string_view body, const std::string& remote, std::int64_t nowMs, Committer& committer);

}  // namespace ulr
