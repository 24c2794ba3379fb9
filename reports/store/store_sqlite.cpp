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
};
static_assert(sizeof kSteps / sizeof kSteps[0] == kSchemaVersion, "one step for every schema version");

const char kReportColumns[] = "id, signature_id, received_ms, remote, uid, fver, ver, fadd, fmod, ladd, lmod";

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
                     "INSERT INTO reports (digest, signature_id, received_ms, version, remote, uid, fver, ver, fadd,"
                     " fmod, ladd, lmod, conts) VALUES (?1, ?2, ?3, ?4, ?5, ?6, ?7, ?8, ?9, ?10, ?11, ?12, ?13)"
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
                "SELECT s.id, s.fmod, s.fadd, s.lmod, s.ladd, a.n, a.first_ms, a.last_ms FROM"
                " (SELECT signature_id, count(*) AS n, min(received_ms) AS first_ms, max(received_ms) AS last_ms"
                "  FROM reports GROUP BY signature_id) AS a JOIN signatures AS s ON s.id = a.signature_id"
                " ORDER BY a.last_ms DESC, s.id LIMIT ?1 OFFSET ?2");
    if (!q.ok()) return Fail(error);
    q.Bind(1, limit).Bind(2, offset);
    int rc;
    while ((rc = q.Step()) == SQLITE_ROW) out->push_back(SummaryOf(q));
    if (rc != SQLITE_DONE) return Fail(error);
    for (auto& s : *out) {
      if (!Versions(&s, error)) return false;
    }
    return true;
  }

  bool Signature(std::int64_t id, SignatureSummary* out, bool* found, std::string* error) override {
    Statement q(db_,
                "SELECT s.id, s.fmod, s.fadd, s.lmod, s.ladd, count(r.id), min(r.received_ms), max(r.received_ms)"
                " FROM signatures AS s JOIN reports AS r ON r.signature_id = s.id WHERE s.id = ?1 GROUP BY s.id");
    if (!q.ok()) return Fail(error);
    q.Bind(1, id);
    const int rc = q.Step();
    *found = rc == SQLITE_ROW;
    if (rc != SQLITE_ROW && rc != SQLITE_DONE) return Fail(error);
    if (*found) {
      *out = SummaryOf(q);
      return Versions(out, error);
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
                         " AND NOT EXISTS (SELECT 1 FROM reports WHERE signature_id = signatures.id)");
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

 private:
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
    return s;
  }

  bool Versions(SignatureSummary* s, std::string* error) {
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
      if (withLog) r.form.conts = q.Column(11);
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
