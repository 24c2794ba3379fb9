// Where the reports are kept: SQLite (one file, for one machine) or
// PostgreSQL (shared by several receivers behind a balancer), chosen by the
// store argument. Opening a store creates its tables or upgrades them to
// this program's schema; a store made by a newer program is refused.
//
// Player bytes (uid, fields, log) are kept as they were sent, in code page
// 949; only the pages and exports decode them.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "receive/report_form.h"

namespace ulr {

// The schema this program writes and reads.
constexpr int kSchemaVersion = 2;

// One report as received, ready to be stored.
struct NewReport {
  ReportForm form;
  std::string digest;  // SHA-256 of the whole body: the same post sent again has the same
  std::int64_t signatureId = 0;
  std::string version;  // ClientVersion(form.ver)
  std::string remote;   // the sender's address
  std::int64_t receivedMs = 0;
};

struct StoredReport {
  std::int64_t id = 0;
  std::int64_t signatureId = 0;
  std::int64_t receivedMs = 0;
  std::string remote;
  ReportForm form;  // conts is empty when the log was not asked for
};

struct SignatureSummary {
  std::int64_t id = 0;
  std::string fmod, fadd, lmod, ladd;  // as the first report of it sent them
  std::int64_t count = 0, firstMs = 0, lastMs = 0;
  std::vector<std::pair<std::string, std::int64_t>> versions;  // client version, reports; newest version first
};

class ReportStore {
 public:
  virtual ~ReportStore() = default;
  // Stores the batch in one transaction, durably once it returns true.
  // (*added)[i] is true for a report stored now, false for one that was
  // already stored (the same body). False, with *error, when nothing of the
  // batch was stored.
  virtual bool Add(const std::vector<const NewReport*>& batch, std::vector<bool>* added, std::string* error) = 0;
  // Signatures, the one last seen first.
  virtual bool Signatures(int limit, int offset, std::vector<SignatureSummary>* out, std::string* error) = 0;
  virtual bool Signature(std::int64_t id, SignatureSummary* out, bool* found, std::string* error) = 0;
  // A signature's reports, newest first.
  virtual bool SignatureReports(std::int64_t id, int limit, int offset, std::vector<StoredReport>* out,
                                std::string* error) = 0;
  // Reports in the order they were stored, after afterId: all of them or
  // one signature's (signatureId != 0), with their logs.
  virtual bool ReportsAfter(std::int64_t afterId, std::int64_t signatureId, int limit, std::vector<StoredReport>* out,
                            std::string* error) = 0;
  virtual bool Report(std::int64_t id, StoredReport* out, bool* found, std::string* error) = 0;
  virtual bool CountReports(std::int64_t* count, std::string* error) = 0;
  // Removes, in one transaction, at most limit of the reports received
  // before beforeMs, the oldest first, and the signatures made before then
  // that no report is left of; *removed is the number of reports removed.
  virtual bool RemoveBefore(std::int64_t beforeMs, int limit, std::int64_t* removed, std::string* error) = 0;
};

// "sqlite:PATH", or a PostgreSQL connection string ("postgresql://..." or
// "host=... dbname=..."). With upgrade, the tables are created or brought to
// kSchemaVersion first (several receivers may do so at once); without, a
// store at another version is refused. *before (when given) receives the
// version the store had (0: none). Null, with *error, on failure.
std::unique_ptr<ReportStore> OpenStore(const std::string& address, bool upgrade, std::string* error,
                                       int* before = nullptr);

// What kind of store address names, for messages: "SQLite" or "PostgreSQL";
// empty when it names neither.
std::string StoreKind(const std::string& address);

}  // namespace ulr
