// The SQLite store: one file, written in WAL mode with a sync at every
// commit, so that a report is on disk before its post is answered.
#include <sqlite3.h>

#include <cstring>

#include "store/store_open.h"

namespace ulr {

namespace {

// Schema steps: step i brings a store from version i to i + 1.
const char* const kSteps[] = {
    "CREATE TABLE signatures ("
    "  id INTEGER PRIMARY KEY,"
    "  fmod BLOB NOT NULL, fadd BLOB NOT NULL, lmod BLOB NOT NULL, ladd BLOB NOT NULL,"
    "  created_ms INTEGER NOT NULL);"
    "CREATE TABLE reports ("
    "  id INTEGER PRIMARY KEY AUTOINCREMENT,"
    "  digest BLOB NOT NULL UNIQUE,"
    "  signature_id INTEGER NOT NULL REFERENCES signatures (id),"
    "  received_ms INTEGER NOT NULL,"
    "  version BLOB NOT NULL,"
    "  remote TEXT NOT NULL,"
    "  uid BLOB NOT NULL, fver BLOB NOT NULL, ver BLOB NOT NULL, fadd BLOB NOT NULL,"
    "  fmod BLOB NOT NULL, ladd BLOB NOT NULL, lmod BLOB NOT NULL,"
    "  conts BLOB NOT NULL);"
    "CREATE INDEX reports_by_signature ON reports (signature_id, received_ms);"
    "CREATE INDEX reports_by_version ON reports (signature_id, version, received_ms);",
    // Retention removes by age.
    "CREATE INDEX reports_by_time ON reports (received_ms);",
    // Symbols: the files of each client version, their bytes in parts, the
    // store's settings; a report's raw signature kept beside the one its
    // resolved frames make.
    "CREATE TABLE symbol_files ("
    "  version BLOB NOT NULL, module TEXT NOT NULL, kind TEXT NOT NULL, name TEXT NOT NULL,"
    "  digest TEXT NOT NULL, size INTEGER NOT NULL, layout TEXT NOT NULL, added_ms INTEGER NOT NULL,"
    "  PRIMARY KEY (version, module, kind));"
    "CREATE TABLE symbol_parts (digest TEXT NOT NULL, part INTEGER NOT NULL, bytes BLOB NOT NULL,"
    "  PRIMARY KEY (digest, part));"
    "CREATE TABLE settings (name TEXT PRIMARY KEY, value TEXT NOT NULL);"
    "ALTER TABLE signatures ADD COLUMN functions BLOB NOT NULL DEFAULT '';"
    "ALTER TABLE reports ADD COLUMN raw_signature_id INTEGER NOT NULL DEFAULT 0;"
    "UPDATE reports SET raw_signature_id = signature_id;"
    "ALTER TABLE reports ADD COLUMN resolved BLOB;"
    "CREATE INDEX reports_unresolved ON reports (version, id) WHERE resolved IS NULL;"
    "CREATE INDEX reports_by_raw_signature ON reports (raw_signature_id);"
    "CREATE INDEX reports_by_client_version ON reports (version);",
};
static_assert(sizeof kSteps / sizeof kSteps[0] == kSchemaVersion, "one step for every schema version");

const char kReportColumns[] =
    "id, signature_id, received_ms, remote, uid, fver, ver, fadd, fmod, ladd, lmod, resolved";

// The state of a version's symbols that a resolution was made with: it is
// stored only while that state holds.
const char kSymbolStamp[] =
    "(SELECT coalesce(max(added_ms), 0) || ':' || count(*) FROM symbol_files WHERE version = reports.version)";

// One prepared statement, finalized with its owner.
class Statement {
 public:
  Statement(sqlite3* db, const char* sql) : db_(db) {
    if (sqlite3_prepare_v2(db, sql, -1, &stmt_, nullptr) != SQLITE_OK) stmt_ = nullptr;
  }
  ~Statement() { sqlite3_finalize(stmt_); }
  Statement(const Statement&) = delete;
  Statement& operator=(const Statement&) = delete;
  bool ok() const { return stmt_ != nullptr; }
  Statement& Bind(int i, std::int64_t v) {
    sqlite3_bind_int64(stmt_, i, v);
    return *this;
  }
  Statement& Bytes(int i, const std::string& v) {
    sqlite3_bind_blob64(stmt_, i, v.data(), v.size(), SQLITE_TRANSIENT);
    return *this;
  }
  Statement& Text(int i, const std::string& v) {
    sqlite3_bind_text64(stmt_, i, v.data(), v.size(), SQLITE_TRANSIENT, SQLITE_UTF8);
    return *this;
  }
  // SQLITE_ROW, SQLITE_DONE or an error code.
  int Step() { return sqlite3_step(stmt_); }
  void Reset() {
    sqlite3_reset(stmt_);
    sqlite3_clear_bindings(stmt_);
  }
  std::int64_t Int(int col) const { return sqlite3_column_int64(stmt_, col); }
  std::string Column(int col) const {
    const void* p = sqlite3_column_blob(stmt_, col);
    const int n = sqlite3_column_bytes(stmt_, col);
    return p == nullptr ? std::string() : std::string(static_cast<const char*>(p), static_cast<std::size_t>(n));
  }

 private:
  sqlite3* db_;
  sqlite3_stmt* stmt_ = nullptr;
};

class SqliteStore : public ReportStore {
 public:
  explicit SqliteStore(sqlite3* db) : db_(db) {}
  ~SqliteStore() override { sqlite3_close_v2(db_); }

  bool Exec(const char* sql, std::string* error) {
    char* message = nullptr;
    if (sqlite3_exec(db_, sql, nullptr, nullptr, &message) == SQLITE_OK) return true;
    *error = message != nullptr ? message : sqlite3_errmsg(db_);
    sqlite3_free(message);
    return false;
  }

  bool Fail(std::string* error) {
    *error = sqlite3_errmsg(db_);
    return false;
  }

  // Reads the schema version and, with upgrade, applies the missing steps;
  // all in one write transaction, so two receivers starting together take
  // turns. Without upgrade nothing is written.
  bool Prepare(bool upgrade, std::string* error, int* before) {
    if (!Exec("PRAGMA journal_mode=WAL; PRAGMA synchronous=FULL; PRAGMA foreign_keys=ON;", error)) return false;
    if (!Exec(upgrade ? "BEGIN IMMEDIATE" : "BEGIN", error)) return false;
    int found = 0;
    bool ok = !upgrade || Exec("CREATE TABLE IF NOT EXISTS ulmet_reports_schema (version INTEGER NOT NULL)", error);
    if (ok) {
      Statement read(db_,
                     "SELECT coalesce((SELECT 1 FROM sqlite_master WHERE name = 'ulmet_reports_schema'), 0)");
      ok = read.ok() && read.Step() == SQLITE_ROW;
      if (ok && read.Int(0) == 1) {
        Statement version(db_, "SELECT coalesce(max(version), 0) FROM ulmet_reports_schema");
        ok = version.ok() && version.Step() == SQLITE_ROW;
        if (ok) found = static_cast<int>(version.Int(0));
      }
      if (!ok) Fail(error);
    }
    *before = found;
    return FinishSchema(ok, found, upgrade, kSteps,
                        [this](const std::string& sql, std::string* e) { return Exec(sql.c_str(), e); }, error);
  }

  bool Add(const std::vector<const NewReport*>& batch, std::vector<bool>* added, std::string* error) override {
    added->assign(batch.size(), false);
    if (!Exec("BEGIN IMMEDIATE", error)) return false;
    Statement signature(db_,
                        "INSERT INTO signatures (id, fmod, fadd, lmod, ladd, created_ms) VALUES (?1, ?2, ?3, ?4, ?5, ?6)"
                        " ON CONFLICT (id) DO NOTHING");
    Statement report(db_,
                     "INSERT INTO reports (digest, signature_id, raw_signature_id, received_ms, version, remote, uid,"
                     " fver, ver, fadd, fmod, ladd, lmod, conts)"
                     " VALUES (?1, ?2, ?2, ?3, ?4, ?5, ?6, ?7, ?8, ?9, ?10, ?11, ?12, ?13)"
                     " ON CONFLICT (digest) DO NOTHING");
    bool ok = signature.ok() && report.ok();
    for (std::size_t i = 0; ok && i < batch.size(); ++i) {
      const NewReport& r = *batch[i];
      signature.Reset();
      signature.Bind(1, r.signatureId).Bytes(2, r.form.fmod).Bytes(3, r.form.fadd).Bytes(4, r.form.lmod);
      signature.Bytes(5, r.form.ladd).Bind(6, r.receivedMs);
      ok = signature.Step() == SQLITE_DONE;
      if (!ok) break;
      report.Reset();
      report.Bytes(1, r.digest).Bind(2, r.signatureId).Bind(3, r.receivedMs).Bytes(4, r.version).Text(5, r.remote);
      report.Bytes(6, r.form.uid).Bytes(7, r.form.fver).Bytes(8, r.form.ver).Bytes(9, r.form.fadd);
      report.Bytes(10, r.form.fmod).Bytes(11, r.form.ladd).Bytes(12, r.form.lmod).Bytes(13, r.form.conts);
      ok = report.Step() == SQLITE_DONE;
      (*added)[i] = ok && sqlite3_changes(db_) == 1;
    }
    if (!ok) {
      Fail(error);
      std::string ignored;
      Exec("ROLLBACK", &ignored);
      added->assign(batch.size(), false);
      return false;
    }
    if (!Exec("COMMIT", error)) {
      std::string ignored;
      Exec("ROLLBACK", &ignored);
      added->assign(batch.size(), false);
      return false;
    }
    return true;
  }

  bool Signatures(int limit, int offset, std::vector<SignatureSummary>* out, std::string* error) override {
    out->clear();
    Statement q(db_,
                "SELECT s.id, s.fmod, s.fadd, s.lmod, s.ladd, a.n, a.first_ms, a.last_ms, s.functions FROM"
                " (SELECT signature_id, count(*) AS n, min(received_ms) AS first_ms, max(received_ms) AS last_ms"
                "  FROM reports GROUP BY signature_id) AS a JOIN signatures AS s ON s.id = a.signature_id"
                " ORDER BY a.last_ms DESC, s.id LIMIT ?1 OFFSET ?2");
    if (!q.ok()) return Fail(error);
    q.Bind(1, limit).Bind(2, offset);
    int rc;
    while ((rc = q.Step()) == SQLITE_ROW) out->push_back(SummaryOf(q));
    if (rc != SQLITE_DONE) return Fail(error);
    for (auto& s : *out) {
      if (!SignatureVersions(&s, error)) return false;
    }
    return true;
  }

  bool Signature(std::int64_t id, SignatureSummary* out, bool* found, std::string* error) override {
    Statement q(db_,
                "SELECT s.id, s.fmod, s.fadd, s.lmod, s.ladd, count(r.id), min(r.received_ms), max(r.received_ms), s.functions"
                " FROM signatures AS s JOIN reports AS r ON r.signature_id = s.id WHERE s.id = ?1 GROUP BY s.id");
    if (!q.ok()) return Fail(error);
    q.Bind(1, id);
    const int rc = q.Step();
    *found = rc == SQLITE_ROW;
    if (rc != SQLITE_ROW && rc != SQLITE_DONE) return Fail(error);
    if (*found) {
      *out = SummaryOf(q);
      return SignatureVersions(out, error);
    }
    return true;
  }

  bool SignatureReports(std::int64_t id, int limit, int offset, std::vector<StoredReport>* out,
                        std::string* error) override {
    const std::string sql = std::string("SELECT ") + kReportColumns +
                            " FROM reports WHERE signature_id = ?1 ORDER BY received_ms DESC, id DESC"
                            " LIMIT ?2 OFFSET ?3";
    Statement q(db_, sql.c_str());
    if (!q.ok()) return Fail(error);
    q.Bind(1, id).Bind(2, limit).Bind(3, offset);
    return ReadReports(q, false, out, error);
  }

  bool ReportsAfter(std::int64_t afterId, std::int64_t signatureId, int limit, std::vector<StoredReport>* out,
                    std::string* error) override {
    const std::string sql = std::string("SELECT ") + kReportColumns +
                            ", conts FROM reports WHERE id > ?1 AND (?2 = 0 OR signature_id = ?2)"
                            " ORDER BY id LIMIT ?3";
    Statement q(db_, sql.c_str());
    if (!q.ok()) return Fail(error);
    q.Bind(1, afterId).Bind(2, signatureId).Bind(3, limit);
    return ReadReports(q, true, out, error);
  }

  bool Report(std::int64_t id, StoredReport* out, bool* found, std::string* error) override {
    const std::string sql = std::string("SELECT ") + kReportColumns + ", conts FROM reports WHERE id = ?1";
    Statement q(db_, sql.c_str());
    if (!q.ok()) return Fail(error);
    q.Bind(1, id);
    std::vector<StoredReport> rows;
    if (!ReadReports(q, true, &rows, error)) return false;
    *found = !rows.empty();
    if (*found) *out = rows[0];
    return true;
  }

  bool CountReports(std::int64_t* count, std::string* error) override {
    Statement q(db_, "SELECT count(*) FROM reports");
    if (!q.ok() || q.Step() != SQLITE_ROW) return Fail(error);
    *count = q.Int(0);
    return true;
  }

  bool RemoveBefore(std::int64_t beforeMs, int limit, std::int64_t* removed, std::string* error) override {
    *removed = 0;
    if (!Exec("BEGIN IMMEDIATE", error)) return false;
    Statement reports(db_,
                      "DELETE FROM reports WHERE id IN"
                      " (SELECT id FROM reports WHERE received_ms < ?1 ORDER BY received_ms LIMIT ?2)");
    Statement signatures(db_,
                         "DELETE FROM signatures WHERE created_ms < ?1"
                         " AND NOT EXISTS (SELECT 1 FROM reports WHERE signature_id = signatures.id)"
                         " AND NOT EXISTS (SELECT 1 FROM reports WHERE raw_signature_id = signatures.id)");
    bool ok = reports.ok() && signatures.ok();
    if (ok) {
      reports.Bind(1, beforeMs).Bind(2, limit);
      ok = reports.Step() == SQLITE_DONE;
      *removed = ok ? sqlite3_changes(db_) : 0;
    }
    if (ok) {
      signatures.Bind(1, beforeMs);
      ok = signatures.Step() == SQLITE_DONE;
    }
    if (ok && Exec("COMMIT", error)) return true;
    if (!ok) Fail(error);
    std::string ignored;
    Exec("ROLLBACK", &ignored);
    *removed = 0;
    return false;
  }

  bool AddSymbolFile(const SymbolFile& f, const std::function<bool(std::string* part)>& nextPart,
                     std::string* error) override {
    if (!StoreParts(f, nextPart, error)) return false;
    if (!Exec("BEGIN IMMEDIATE", error)) return false;
    Statement row(db_,
                  "INSERT OR REPLACE INTO symbol_files (version, module, kind, name, digest, size, layout, added_ms)"
                  " VALUES (?1, ?2, ?3, ?4, ?5, ?6, ?7, ?8)");
    Statement reset(db_, "UPDATE reports SET resolved = NULL WHERE version = ?1");
    bool ok = row.ok() && reset.ok();
    if (ok) {
      row.Bytes(1, f.version).Text(2, f.module).Text(3, f.kind).Text(4, f.name).Text(5, f.digest);
      row.Bind(6, f.size).Text(7, f.layout).Bind(8, f.addedMs);
      reset.Bytes(1, f.version);
      ok = row.Step() == SQLITE_DONE && reset.Step() == SQLITE_DONE;
    }
    return Finish(ok, error);
  }

  bool SymbolFiles(const std::string& version, std::vector<SymbolFile>* out, std::string* error) override {
    out->clear();
    Statement q(db_,
                "SELECT version, module, kind, name, digest, size, layout, added_ms FROM symbol_files"
                " WHERE length(?1) = 0 OR version = ?1 ORDER BY version, module, kind");
    if (!q.ok()) return Fail(error);
    q.Bytes(1, version);
    int rc;
    while ((rc = q.Step()) == SQLITE_ROW) {
      out->push_back({q.Column(0), q.Column(1), q.Column(2), q.Column(3), q.Column(4), q.Int(5), q.Int(7),
                      q.Column(6)});
    }
    return rc == SQLITE_DONE || Fail(error);
  }

  bool RemoveSymbols(const std::string& version, const std::string& module, std::int64_t* removed,
                     std::string* error) override {
    *removed = 0;
    if (!Exec("BEGIN IMMEDIATE", error)) return false;
    Statement files(db_, "DELETE FROM symbol_files WHERE version = ?1 AND (?2 = '' OR module = ?2)");
    Statement parts(db_, "DELETE FROM symbol_parts WHERE digest NOT IN (SELECT digest FROM symbol_files)");
    Statement reports(db_,
                      "UPDATE reports SET signature_id = raw_signature_id, resolved = NULL WHERE version = ?1");
    bool ok = files.ok() && parts.ok() && reports.ok();
    if (ok) {
      files.Bytes(1, version).Text(2, module);
      ok = files.Step() == SQLITE_DONE;
      *removed = ok ? sqlite3_changes(db_) : 0;
      reports.Bytes(1, version);
      ok = ok && parts.Step() == SQLITE_DONE && reports.Step() == SQLITE_DONE;
    }
    return Finish(ok, error);
  }

  bool SymbolPart(const std::string& digest, std::int64_t n, std::string* part, std::string* error) override {
    Statement q(db_, "SELECT bytes FROM symbol_parts WHERE digest = ?1 AND part = ?2");
    if (!q.ok()) return Fail(error);
    q.Text(1, digest).Bind(2, n);
    const int rc = q.Step();
    *part = rc == SQLITE_ROW ? q.Column(0) : std::string();
    return rc == SQLITE_ROW || rc == SQLITE_DONE || Fail(error);
  }

  bool UnresolvedReports(const std::string& version, std::int64_t afterId, int limit, std::vector<StoredReport>* out,
                         std::string* error) override {
    const std::string sql = std::string("SELECT ") + kReportColumns +
                            ", conts FROM reports WHERE resolved IS NULL AND version = ?1 AND id > ?2"
                            " ORDER BY id LIMIT ?3";
    Statement q(db_, sql.c_str());
    if (!q.ok()) return Fail(error);
    q.Bytes(1, version).Bind(2, afterId).Bind(3, limit);
    return ReadReports(q, true, out, error);
  }

  bool SetResolved(const std::vector<Resolution>& batch, std::string* error) override {
    if (!Exec("BEGIN IMMEDIATE", error)) return false;
    Statement signature(db_,
                        "INSERT INTO signatures (id, fmod, fadd, lmod, ladd, created_ms, functions)"
                        " VALUES (?1, ?2, ?3, ?4, ?5, ?6, ?7) ON CONFLICT (id) DO NOTHING");
    const std::string sql = std::string("UPDATE reports SET resolved = ?1,"
                                        " signature_id = CASE WHEN ?2 = 0 THEN raw_signature_id ELSE ?2 END"
                                        " WHERE id = ?3 AND ?4 = ") + kSymbolStamp;
    Statement report(db_, sql.c_str());
    bool ok = signature.ok() && report.ok();
    for (const Resolution& r : batch) {
      if (!ok) break;
      const SignatureSummary& s = r.signature;
      if (!s.functions.empty()) {
        signature.Reset();
        signature.Bind(1, s.id).Bytes(2, s.fmod).Bytes(3, s.fadd).Bytes(4, s.lmod).Bytes(5, s.ladd);
        signature.Bind(6, s.firstMs).Bytes(7, s.functions);
        ok = signature.Step() == SQLITE_DONE;
      }
      report.Reset();
      report.Bytes(1, r.resolved).Bind(2, s.functions.empty() ? 0 : s.id).Bind(3, r.reportId).Text(4, r.stamp);
      ok = ok && report.Step() == SQLITE_DONE;
    }
    return Finish(ok, error);
  }

  bool ResetResolved(const std::string& version, std::string* error) override {
    Statement q(db_, "UPDATE reports SET resolved = NULL WHERE length(?1) = 0 OR version = ?1");
    if (!q.ok()) return Fail(error);
    q.Bytes(1, version);
    return q.Step() == SQLITE_DONE || Fail(error);
  }

  bool Setting(const std::string& name, std::string* value, std::string* error) override {
    Statement q(db_, "SELECT value FROM settings WHERE name = ?1");
    if (!q.ok()) return Fail(error);
    q.Text(1, name);
    const int rc = q.Step();
    *value = rc == SQLITE_ROW ? q.Column(0) : std::string();
    return rc == SQLITE_ROW || rc == SQLITE_DONE || Fail(error);
  }

  bool SetSetting(const std::string& name, const std::string& value, std::string* error) override {
    Statement q(db_, "INSERT OR REPLACE INTO settings (name, value) VALUES (?1, ?2)");
    if (!q.ok()) return Fail(error);
    q.Text(1, name).Text(2, value);
    return q.Step() == SQLITE_DONE || Fail(error);
  }

  bool DailyCounts(std::int64_t sinceMs, std::int64_t signatureId, std::int64_t zoneOffsetMs,
                   std::vector<DayCount>* out, std::string* error) override {
    out->clear();
    Statement q(db_,
                "SELECT (received_ms + ?3) / 86400000 AS day, version, count(*) FROM reports"
                " WHERE received_ms >= ?1 AND (?2 = 0 OR signature_id = ?2) GROUP BY day, version ORDER BY day, version");
    if (!q.ok()) return Fail(error);
    q.Bind(1, sinceMs).Bind(2, signatureId).Bind(3, zoneOffsetMs);
    int rc;
    while ((rc = q.Step()) == SQLITE_ROW) out->push_back({q.Int(0), q.Column(1), q.Int(2)});
    return rc == SQLITE_DONE || Fail(error);
  }

  bool Versions(std::vector<std::string>* out, std::string* error) override {
    out->clear();
    Statement q(db_, "SELECT DISTINCT version FROM reports");
    if (!q.ok()) return Fail(error);
    int rc;
    while ((rc = q.Step()) == SQLITE_ROW) out->push_back(q.Column(0));
    return rc == SQLITE_DONE || Fail(error);
  }

 private:
  // Commits when ok, else rolls back; false with *error unless committed.
  bool Finish(bool ok, std::string* error) {
    if (ok && Exec("COMMIT", error)) return true;
    if (!ok) Fail(error);
    std::string ignored;
    Exec("ROLLBACK", &ignored);
    return false;
  }

  // The file's bytes under its digest, a part a transaction (so that
  // receivers are never held up for long), unless they are all there.
  bool StoreParts(const SymbolFile& f, const std::function<bool(std::string* part)>& nextPart,
                  std::string* error) {
    Statement have(db_, "SELECT count(*), coalesce(sum(length(bytes)), 0) FROM symbol_parts WHERE digest = ?1");
    if (!have.ok()) return Fail(error);
    have.Text(1, f.digest);
    if (have.Step() != SQLITE_ROW) return Fail(error);
    const std::int64_t parts = (f.size + kSymbolPartBytes - 1) / kSymbolPartBytes;
    if (have.Int(0) == parts && have.Int(1) == f.size) return true;
    Statement drop(db_, "DELETE FROM symbol_parts WHERE digest = ?1");
    Statement put(db_, "INSERT INTO symbol_parts (digest, part, bytes) VALUES (?1, ?2, ?3)");
    if (!drop.ok() || !put.ok()) return Fail(error);
    drop.Text(1, f.digest);
    if (drop.Step() != SQLITE_DONE) return Fail(error);
    std::string part;
    for (std::int64_t n = 0;; ++n) {
      if (!nextPart(&part)) {
        *error = "cannot read " + f.name;
        return false;
      }
      if (part.empty()) return true;
      put.Reset();
      put.Text(1, f.digest).Bind(2, n).Bytes(3, part);
      if (put.Step() != SQLITE_DONE) return Fail(error);
    }
  }

  static SignatureSummary SummaryOf(const Statement& q) {
    SignatureSummary s;
    s.id = q.Int(0);
    s.fmod = q.Column(1);
    s.fadd = q.Column(2);
    s.lmod = q.Column(3);
    s.ladd = q.Column(4);
    s.count = q.Int(5);
    s.firstMs = q.Int(6);
    s.lastMs = q.Int(7);
    s.functions = q.Column(8);
    return s;
  }

  bool SignatureVersions(SignatureSummary* s, std::string* error) {
    Statement q(db_,
                "SELECT version, count(*) FROM reports WHERE signature_id = ?1 GROUP BY version"
                " ORDER BY max(received_ms) DESC, version");
    if (!q.ok()) return Fail(error);
    q.Bind(1, s->id);
    int rc;
    while ((rc = q.Step()) == SQLITE_ROW) s->versions.emplace_back(q.Column(0), q.Int(1));
    return rc == SQLITE_DONE || Fail(error);
  }

  bool ReadReports(Statement& q, bool withLog, std::vector<StoredReport>* out, std::string* error) {
    out->clear();
    int rc;
    while ((rc = q.Step()) == SQLITE_ROW) {
      StoredReport r;
      r.id = q.Int(0);
      r.signatureId = q.Int(1);
      r.receivedMs = q.Int(2);
      r.remote = q.Column(3);
      r.form.uid = q.Column(4);
      r.form.fver = q.Column(5);
      r.form.ver = q.Column(6);
      r.form.fadd = q.Column(7);
      r.form.fmod = q.Column(8);
      r.form.ladd = q.Column(9);
      r.form.lmod = q.Column(10);
      r.resolved = q.Column(11);
      if (withLog) r.form.conts = q.Column(12);
      out->push_back(std::move(r));
    }
    return rc == SQLITE_DONE || Fail(error);
  }

  sqlite3* db_;
};

}  // namespace

std::unique_ptr<ReportStore> OpenSqliteStore(const std::string& path, bool upgrade, std::string* error, int* before) {
  sqlite3* db = nullptr;
  const int flags = SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_FULLMUTEX;
  if (sqlite3_open_v2(path.c_str(), &db, flags, nullptr) != SQLITE_OK) {
    *error = "cannot open " + path + ": " + (db != nullptr ? sqlite3_errmsg(db) : "out of memory");
    sqlite3_close_v2(db);
    return nullptr;
  }
  // Another receiver's or reader's transaction is waited for, not failed.
  sqlite3_busy_timeout(db, 10000);
  auto store = std::make_unique<SqliteStore>(db);
  if (!store->Prepare(upgrade, error, before)) {
    *error = path + ": " + *error;
    return nullptr;
  }
  return store;
}

}  // namespace ulr
