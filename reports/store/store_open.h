// The two kinds of store behind OpenStore (store.h).
#pragma once

#include <functional>
#include <memory>
#include <string>

#include "store/store.h"

namespace ulr {

std::unique_ptr<ReportStore> OpenSqliteStore(const std::string& path, bool upgrade, std::string* error, int* before);
std::unique_ptr<ReportStore> OpenPostgresStore(const std::string& conninfo, bool upgrade, std::string* error,
                                               int* before);

// Ends the store's opening transaction, in which it read the schema
// version found (ok: the reading went well): refuses a store this program
// cannot use (newer, or older without upgrade), applies the missing steps
// (steps[v] brings version v to v + 1) through exec, records the new
// version and commits; on any failure it rolls back. False with *error.
bool FinishSchema(bool ok, int found, bool upgrade, const char* const* steps,
                  const std::function<bool(const std::string& sql, std::string* error)>& exec, std::string* error);

}  // namespace ulr
