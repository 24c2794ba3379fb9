// Where the reports are kept: SQLite (one file, for one machine) or
// PostgreSQL (shared by several receivers behind a balancer), chosen by the
// store argument. Opening a store creates its tables or upgrades them to
// this program's schema; a store made by a newer program is refused.
//
// Player bytes (uid, fields, log) are kept as they were sent, in code page
// 949; only the pages and exports decode them.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "receive/report_form.h"

namespace ulr {

// The schema this program writes and reads.
constexpr int kSchemaVersion = 3;

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
  // What the version's symbols made of the log's places (symbols/crash_stack.h);
  // empty while the report is not resolved.
  std::string resolved;
};

struct SignatureSummary {
  std::int64_t id = 0;
  std::string fmod, fadd, lmod, ladd;  // as the first report of it sent them
  // A signature made with symbols: its functions, one "module\tfunction"
  // line each, the fault's first. Empty for one of the raw fields.
  std::string functions;
  std::int64_t count = 0, firstMs = 0, lastMs = 0;
  std::vector<std::pair<std::string, std::int64_t>> versions;  // client version, reports; newest version first
};

// One file of a client version's symbols (symbols/symbol_files.h).
struct SymbolFile {
  std::string version;  // the client version, as the reports carry it
  std::string module;   // the crash logs' module name it serves, lower case
  std::string kind;     // "program", "pdb" or "map"
  std::string name;     // the file's own name
  std::string digest;   // SHA-256 of its bytes, hexadecimal: the name of its stored bytes
  std::int64_t size = 0, addedMs = 0;
  std::string layout;   // a program's layout (symbols/symbol_files.h); empty for the others
};

// A report's places resolved: its frames and the signature they make.
struct Resolution {
  std::int64_t reportId = 0;
  std::string resolved;
  SignatureSummary signature;  // id, the raw fields of the report and functions (empty: its raw signature)
  std::string stamp;           // SymbolStamp of the files it was made with: stored only while they are the version's
};

// The state of a version's symbol files: the newest addition and their count.
std::string SymbolStamp(const std::vector<SymbolFile>& files);

// Reports received on one day (local time) from one client version.
struct DayCount {
  std::int64_t day = 0;  // days since 1970-01-01 in the server's time zone
  std::string version;
  std::int64_t reports = 0;
};

// The parts symbol files are stored in.
constexpr std::size_t kSymbolPartBytes = 1 << 20;

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

  // Symbols. AddSymbolFile stores the file (its parts from nextPart until
  // it gives an empty one; bytes already stored under the digest are not
  // sent again) in place of the same version's, module's and kind's, and
  // marks the version's reports to be resolved anew; one transaction.
  virtual bool AddSymbolFile(const SymbolFile& file, const std::function<bool(std::string* part)>& nextPart,
                             std::string* error) = 0;
  // The symbol files of version (every version's when empty), by version and module.
  virtual bool SymbolFiles(const std::string& version, std::vector<SymbolFile>* out, std::string* error) = 0;
  // Removes version's files (module's alone when not empty); its reports
  // go back to their raw signatures and are resolved anew with what is left.
  virtual bool RemoveSymbols(const std::string& version, const std::string& module, std::int64_t* removed,
                             std::string* error) = 0;
  // Part n (from 0) of the stored bytes with this digest; *part empty after the last.
  virtual bool SymbolPart(const std::string& digest, std::int64_t n, std::string* part, std::string* error) = 0;
  // Reports of version not resolved since its symbols last changed, after
  // afterId in the order they were stored, with their logs.
  virtual bool UnresolvedReports(const std::string& version, std::int64_t afterId, int limit,
                                 std::vector<StoredReport>* out, std::string* error) = 0;
  // Stores the resolutions, with the signatures they make; one transaction.
  virtual bool SetResolved(const std::vector<Resolution>& batch, std::string* error) = 0;
  // Marks the reports of version (of every version when empty) to be resolved anew.
  virtual bool ResetResolved(const std::string& version, std::string* error) = 0;
  // A setting kept in the store; *value empty when it has none.
  virtual bool Setting(const std::string& name, std::string* value, std::string* error) = 0;
  virtual bool SetSetting(const std::string& name, const std::string& value, std::string* error) = 0;

  // Trends: reports per day and version from sinceMs on (one signature's
  // when signatureId is not 0), days counted with the zone's offset.
  virtual bool DailyCounts(std::int64_t sinceMs, std::int64_t signatureId, std::int64_t zoneOffsetMs,
                           std::vector<DayCount>* out, std::string* error) = 0;
  // Every client version that reports carry.
  virtual bool Versions(std::vector<std::string>* out, std::string* error) = 0;
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
