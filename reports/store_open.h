// The two kinds of store behind OpenStore (store.h).
#pragma once

#include <memory>
#include <string>

#include "store.h"

namespace ulr {

std::unique_ptr<ReportStore> OpenSqliteStore(const std::string& path, bool upgrade, std::string* error, int* before);
std::unique_ptr<ReportStore> OpenPostgresStore(const std::string& conninfo, bool upgrade, std::string* error,
                                               int* before);

// The message for a store whose schema this program cannot use as it is.
std::string SchemaProblem(int found, bool upgrade);

}  // namespace ulr
