// The two kinds of store behind OpenStore (store.h).
#pragma once

#include <functional>
#include <memory>
#include <string>

#include "store.h"

namespace ulr {

std::unique_ptr<ReportStore> OpenSqliteStore(const std::string& path, bool upgrade, std::string* error, int* before);
std::unique_ptr<ReportStore> OpenPostgresStore(const std::string& conninfo, bool upgrade, std::string* error,
                                               int* before);

// Inside the store's own transaction, once it read the schema version
// found: refuses a store this program cannot use (newer, or older without
// upgrade), applies the missing steps (steps[v] brings version v to v + 1)
// through exec and records the new version. False with *error.
bool BringSchema(int found, bool upgrade, const char* const* steps,
                 const std::function<bool(const std::string& sql, std::string* error)>& exec, std::string* error);

}  // namespace ulr
