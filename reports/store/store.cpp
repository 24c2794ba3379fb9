#include "store/store.h"

#include "store/store_open.h"

namespace ulr {

namespace {

const char kSqlitePrefix[] = "sqlite:";

bool IsPostgres(const std::string& address) {
  return address.rfind("postgresql://", 0) == 0 || address.rfind("postgres://", 0) == 0 ||
         address.find('=') != std::string::npos;
}

}  // namespace

std::string SymbolStamp(const std::vector<SymbolFile>& files) {
  std::int64_t newest = 0;
  for (const SymbolFile& f : files) newest = f.addedMs > newest ? f.addedMs : newest;
  return std::to_string(newest) + ":" + std::to_string(files.size());
}

std::string StoreKind(const std::string& address) {
  if (address.rfind(kSqlitePrefix, 0) == 0 && address.size() > sizeof kSqlitePrefix - 1) return "SQLite";
  if (IsPostgres(address)) return "PostgreSQL";
  return "";
}

std::unique_ptr<ReportStore> OpenStore(const std::string& address, bool upgrade, std::string* error, int* before) {
  int found = 0;
  std::unique_ptr<ReportStore> store;
  const std::string kind = StoreKind(address);
  if (kind == "SQLite") {
    store = OpenSqliteStore(address.substr(sizeof kSqlitePrefix - 1), upgrade, error, &found);
  } else if (kind == "PostgreSQL") {
    store = OpenPostgresStore(address, upgrade, error, &found);
  } else {
    *error = "the store must be sqlite:PATH or a PostgreSQL connection string";
  }
  if (before != nullptr) *before = found;
  return store;
}

namespace {

bool ApplySteps(int found, bool upgrade, const char* const* steps,
                const std::function<bool(const std::string& sql, std::string* error)>& exec, std::string* error) {
  if (found > kSchemaVersion) {
    *error = "the store holds schema " + std::to_string(found) + ", made by a newer ulmet-reports (this one knows " +
             std::to_string(kSchemaVersion) + ")";
    return false;
  }
  if (!upgrade && found != kSchemaVersion) {
    *error = "the store holds schema " + std::to_string(found) + "; \"ulmet-reports upgrade\" brings it to " +
             std::to_string(kSchemaVersion);
    return false;
  }
  for (int v = found; v < kSchemaVersion; ++v) {
    if (!exec(steps[v], error)) return false;
  }
  return found == kSchemaVersion ||
         exec("DELETE FROM ulmet_reports_schema; INSERT INTO ulmet_reports_schema VALUES (" +
                  std::to_string(kSchemaVersion) + ")",
              error);
}

}  // namespace

bool FinishSchema(bool ok, int found, bool upgrade, const char* const* steps,
                  const std::function<bool(const std::string& sql, std::string* error)>& exec, std::string* error) {
  if (ok && ApplySteps(found, upgrade, steps, exec, error)) return exec("COMMIT", error);
  std::string ignored;
  exec("ROLLBACK", &ignored);
  return false;
}

}  // namespace ulr
