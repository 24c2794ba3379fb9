// The PostgreSQL store: several receivers share one database. Every batch
// is one transaction; a report is on disk once its commit returns (the
// server's own synchronous commit). Reports are only ever inserted, and a
// signature row only once, so receivers never wait on each other's rows.
#include <endian.h>
#include <libpq-fe.h>

#include <cstdlib>
#include <cstring>

#include "store/store_open.h"

namespace ulr {

namespace {

const char* const kSteps[] = {
    "CREATE TABLE signatures ("
    "  id BIGINT PRIMARY KEY,"
    "  fmod BYTEA NOT NULL, fadd BYTEA NOT NULL, lmod BYTEA NOT NULL, ladd BYTEA NOT NULL,"
    "  created_ms BIGINT NOT NULL);"
    "CREATE TABLE reports ("
    "  id BIGSERIAL PRIMARY KEY,"
    "  digest BYTEA NOT NULL UNIQUE,"
    "  signature_id BIGINT NOT NULL REFERENCES signatures (id),"
    "  received_ms BIGINT NOT NULL,"
    "  version BYTEA NOT NULL,"
    "  remote TEXT NOT NULL,"
    "  uid BYTEA NOT NULL, fver BYTEA NOT NULL, ver BYTEA NOT NULL, fadd BYTEA NOT NULL,"
    "  fmod BYTEA NOT NULL, ladd BYTEA NOT NULL, lmod BYTEA NOT NULL,"
    "  conts BYTEA NOT NULL);"
    "CREATE INDEX reports_by_signature ON reports (signature_id, received_ms);"
    "CREATE INDEX reports_by_version ON reports (signature_id, version, received_ms);",
    // Retention removes by age.
    "CREATE INDEX reports_by_time ON reports (received_ms);",
    // Symbols: the files of each client version, their bytes in parts, the
    // store's settings; a report's raw signature kept beside the one its
    // resolved frames make.
    "CREATE TABLE symbol_files ("
    "  version BYTEA NOT NULL, module TEXT NOT NULL, kind TEXT NOT NULL, name TEXT NOT NULL,"
    "  digest TEXT NOT NULL, size BIGINT NOT NULL, layout TEXT NOT NULL, added_ms BIGINT NOT NULL,"
    "  PRIMARY KEY (version, module, kind));"
    "CREATE TABLE symbol_parts (digest TEXT NOT NULL, part BIGINT NOT NULL, bytes BYTEA NOT NULL,"
    "  PRIMARY KEY (digest, part));"
    "CREATE TABLE settings (name TEXT PRIMARY KEY, value TEXT NOT NULL);"
    "ALTER TABLE signatures ADD COLUMN functions BYTEA NOT NULL DEFAULT '';"
    "ALTER TABLE reports ADD COLUMN raw_signature_id BIGINT NOT NULL DEFAULT 0;"
    "UPDATE reports SET raw_signature_id = signature_id;"
    "ALTER TABLE reports ADD COLUMN resolved BYTEA;"
    "CREATE INDEX reports_unresolved ON reports (version, id) WHERE resolved IS NULL;"
    "CREATE INDEX reports_by_raw_signature ON reports (raw_signature_id);"
    "CREATE INDEX reports_by_client_version ON reports (version);",
};
static_assert(sizeof kSteps / sizeof kSteps[0] == kSchemaVersion, "one step for every schema version");

// Any number that no other program of the database takes for its own lock.
const char kSchemaLock[] = "SELECT pg_advisory_xact_lock(7411953023)";

const char kReportColumns[] =
    "id, signature_id, received_ms, remote, uid, fver, ver, fadd, fmod, ladd, lmod, coalesce(resolved, '')";

// The state of a version's symbols that a resolution was made with: it is
// stored only while that state holds.
const char kSymbolStamp[] =
    "(SELECT coalesce(max(added_ms), 0)::text || ':' || count(*)::text FROM symbol_files"
    " WHERE version = reports.version)";

constexpr Oid kInt8 = 20, kBytea = 17, kText = 25;

struct Statement {
  const char* name;
  const char* sql;
  std::vector<Oid> types;
};

const Statement kStatements[] = {
    {"signature",
     "INSERT INTO signatures (id, fmod, fadd, lmod, ladd, created_ms) VALUES ($1, $2, $3, $4, $5, $6)"
     " ON CONFLICT (id) DO NOTHING",
     {kInt8, kBytea, kBytea, kBytea, kBytea, kInt8}},
    {"report",
     "INSERT INTO reports (digest, signature_id, raw_signature_id, received_ms, version, remote, uid, fver, ver,"
     " fadd, fmod, ladd, lmod, conts) VALUES ($1, $2, $2, $3, $4, $5, $6, $7, $8, $9, $10, $11, $12, $13)"
     " ON CONFLICT (digest) DO NOTHING",
     {kBytea, kInt8, kInt8, kBytea, kText, kBytea, kBytea, kBytea, kBytea, kBytea, kBytea, kBytea, kBytea}},
};

// A result, cleared with its owner.
class Result {
 public:
  explicit Result(PGresult* r) : r_(r) {}
  ~Result() { PQclear(r_); }
  Result(const Result&) = delete;
  Result& operator=(const Result&) = delete;
  bool Ok() const {
    const ExecStatusType s = PQresultStatus(r_);
    return s == PGRES_COMMAND_OK || s == PGRES_TUPLES_OK;
  }
  int Rows() const { return PQntuples(r_); }
  std::int64_t Int(int row, int col) const {
    std::uint64_t v = 0;
    if (PQgetlength(r_, row, col) == 8) std::memcpy(&v, PQgetvalue(r_, row, col), 8);
    return static_cast<std::int64_t>(be64toh(v));
  }
  std::string Column(int row, int col) const {
    return std::string(PQgetvalue(r_, row, col), static_cast<std::size_t>(PQgetlength(r_, row, col)));
  }
  const char* Affected() const { return PQcmdTuples(r_); }
  PGresult* get() const { return r_; }

 private:
  PGresult* r_;
};

// Parameters in binary form: numbers as 8 bytes, big-endian.
class Params {
 public:
  Params& Int(std::int64_t v) {
    numbers_.push_back(htobe64(static_cast<std::uint64_t>(v)));
    Add(nullptr, 8);
    number_.push_back(numbers_.size() - 1);
    return *this;
  }
  Params& Bytes(const std::string& v) {
    Add(v.data(), v.size());
    number_.push_back(static_cast<std::size_t>(-1));
    return *this;
  }
  int Count() const { return static_cast<int>(values_.size()); }
  const char* const* Values() {
    for (std::size_t i = 0; i < values_.size(); ++i) {
      if (number_[i] != static_cast<std::size_t>(-1)) values_[i] = reinterpret_cast<const char*>(&numbers_[number_[i]]);
    }
    return values_.data();
  }
  const int* Lengths() const { return lengths_.data(); }
  const int* Formats() const { return formats_.data(); }

 private:
  void Add(const char* p, std::size_t n) {
    values_.push_back(p);
    lengths_.push_back(static_cast<int>(n));
    formats_.push_back(1);
  }
  std::vector<const char*> values_;
  std::vector<int> lengths_, formats_;
  std::vector<std::uint64_t> numbers_;
  std::vector<std::size_t> number_;
};

class PostgresStore : public ReportStore {
 public:
  explicit PostgresStore(PGconn* conn) : conn_(conn) {}
  ~PostgresStore() override { PQfinish(conn_); }

  bool Fail(std::string* error) {
    *error = PQerrorMessage(conn_);
    while (!error->empty() && (error->back() == '\n' || error->back() == ' ')) error->pop_back();
    return false;
  }

  bool Exec(const char* sql, std::string* error) {
    Result r(PQexec(conn_, sql));
    return r.Ok() || Fail(error);
  }

  // A connection lost since the last use (a restarted server) is made anew.
  bool Connected(std::string* error) {
    if (PQstatus(conn_) == CONNECTION_OK) return true;
    PQreset(conn_);
    prepared_ = false;
    return PQstatus(conn_) == CONNECTION_OK || Fail(error);
  }

  bool PrepareStatements(std::string* error) {
    if (prepared_) return true;
    for (const auto& s : kStatements) {
      Result r(PQprepare(conn_, s.name, s.sql, static_cast<int>(s.types.size()), s.types.data()));
      if (!r.Ok()) return Fail(error);
    }
    prepared_ = true;
    return true;
  }

  PGresult* Query(const char* sql, Params& p) {
    return PQexecParams(conn_, sql, p.Count(), nullptr, p.Values(), p.Lengths(), p.Formats(), 1);
  }

  bool Prepare(bool upgrade, std::string* error, int* before) {
    *before = 0;
    if (!Exec("BEGIN", error)) return false;
    bool ok = true;
    if (upgrade) {
      ok = Exec(kSchemaLock, error) &&
           Exec("CREATE TABLE IF NOT EXISTS ulmet_reports_schema (version INTEGER NOT NULL)", error);
    }
    int found = 0;
    if (ok) {
      Result r(PQexecParams(conn_,
                            "SELECT CASE WHEN to_regclass('ulmet_reports_schema') IS NULL THEN 0::bigint"
                            " ELSE (SELECT coalesce(max(version), 0)::bigint FROM ulmet_reports_schema) END",
                            0, nullptr, nullptr, nullptr, nullptr, 1));
      ok = r.Ok() && r.Rows() == 1;
      if (ok) found = static_cast<int>(r.Int(0, 0));
      else Fail(error);
    }
    *before = found;
    return FinishSchema(ok, found, upgrade, kSteps,
                        [this](const std::string& sql, std::string* e) { return Exec(sql.c_str(), e); }, error);
  }

  // The batch goes out as one pipeline (BEGIN, two inserts a report,
  // COMMIT) and the answers are read after it: one round trip for the lot
  // rather than two for every report.
  bool Add(const std::vector<const NewReport*>& batch, std::vector<bool>* added, std::string* error) override {
    added->assign(batch.size(), false);
    if (!Connected(error) || !PrepareStatements(error)) return false;
    if (PQenterPipelineMode(conn_) != 1) return Fail(error);
    bool sent = PQsendQueryParams(conn_, "BEGIN", 0, nullptr, nullptr, nullptr, nullptr, 1) == 1;
    for (std::size_t i = 0; sent && i < batch.size(); ++i) {
      const NewReport& r = *batch[i];
      Params s;
      s.Int(r.signatureId).Bytes(r.form.fmod).Bytes(r.form.fadd).Bytes(r.form.lmod).Bytes(r.form.ladd);
      s.Int(r.receivedMs);
      Params p;
      p.Bytes(r.digest).Int(r.signatureId).Int(r.receivedMs).Bytes(r.version).Bytes(r.remote);
      p.Bytes(r.form.uid).Bytes(r.form.fver).Bytes(r.form.ver).Bytes(r.form.fadd).Bytes(r.form.fmod);
      p.Bytes(r.form.ladd).Bytes(r.form.lmod).Bytes(r.form.conts);
      sent = PQsendQueryPrepared(conn_, "signature", s.Count(), s.Values(), s.Lengths(), s.Formats(), 1) == 1 &&
             PQsendQueryPrepared(conn_, "report", p.Count(), p.Values(), p.Lengths(), p.Formats(), 1) == 1;
    }
    sent = sent && PQsendQueryParams(conn_, "COMMIT", 0, nullptr, nullptr, nullptr, nullptr, 1) == 1 &&
           PQpipelineSync(conn_) == 1;
    bool ok = sent;
    if (!sent) Fail(error);
    // Every query's result, then the sync's; the first failure is kept.
    const std::size_t queries = sent ? 2 * batch.size() + 2 : 0;
    for (std::size_t q = 0; q < queries; ++q) {
      Result r(PQgetResult(conn_));
      if (ok && !r.Ok()) ok = Fail(error);
      if (ok && q >= 1 && q <= 2 * batch.size() && q % 2 == 0)
        (*added)[q / 2 - 1] = std::strcmp(r.Affected(), "1") == 0;
      while (PGresult* more = PQgetResult(conn_)) PQclear(more);  // the end of this query's results
    }
    if (sent) {
      Result sync(PQgetResult(conn_));
      ok = ok && PQresultStatus(sync.get()) == PGRES_PIPELINE_SYNC;
    }
    PQexitPipelineMode(conn_);
    if (!ok) {
      std::string ignored;
      if (PQstatus(conn_) == CONNECTION_OK) Exec("ROLLBACK", &ignored);
      added->assign(batch.size(), false);
    }
    return ok;
  }

  bool Signatures(int limit, int offset, std::vector<SignatureSummary>* out, std::string* error) override {
    out->clear();
    if (!Connected(error)) return false;
    Params p;
    p.Int(limit).Int(offset);
    Result r(Query("SELECT s.id, s.fmod, s.fadd, s.lmod, s.ladd, a.n, a.first_ms, a.last_ms, s.functions FROM"
                   " (SELECT signature_id, count(*) AS n, min(received_ms) AS first_ms, max(received_ms) AS last_ms"
                   "  FROM reports GROUP BY signature_id) AS a JOIN signatures AS s ON s.id = a.signature_id"
                   " ORDER BY a.last_ms DESC, s.id LIMIT $1 OFFSET $2",
                   p));
    if (!r.Ok()) return Fail(error);
    for (int i = 0; i < r.Rows(); ++i) out->push_back(SummaryOf(r, i));
    for (auto& s : *out) {
      if (!SignatureVersions(&s, error)) return false;
    }
    return true;
  }

  bool Signature(std::int64_t id, SignatureSummary* out, bool* found, std::string* error) override {
    if (!Connected(error)) return false;
    Params p;
    p.Int(id);
    Result r(Query("SELECT s.id, s.fmod, s.fadd, s.lmod, s.ladd, count(r.id), min(r.received_ms),"
                   " max(r.received_ms), s.functions FROM signatures AS s JOIN reports AS r ON r.signature_id = s.id"
                   " WHERE s.id = $1 GROUP BY s.id",
                   p));
    if (!r.Ok()) return Fail(error);
    *found = r.Rows() == 1;
    if (!*found) return true;
    *out = SummaryOf(r, 0);
    return SignatureVersions(out, error);
  }

  bool SignatureReports(std::int64_t id, int limit, int offset, std::vector<StoredReport>* out,
                        std::string* error) override {
    if (!Connected(error)) return false;
    Params p;
    p.Int(id).Int(limit).Int(offset);
    const std::string sql = std::string("SELECT ") + kReportColumns +
                            " FROM reports WHERE signature_id = $1 ORDER BY received_ms DESC, id DESC"
                            " LIMIT $2 OFFSET $3";
    Result r(Query(sql.c_str(), p));
    return ReadReports(r, false, out, error);
  }

  bool ReportsAfter(std::int64_t afterId, std::int64_t signatureId, int limit, std::vector<StoredReport>* out,
                    std::string* error) override {
    if (!Connected(error)) return false;
    Params p;
    p.Int(afterId).Int(signatureId).Int(limit);
    const std::string sql = std::string("SELECT ") + kReportColumns +
                            ", conts FROM reports WHERE id > $1 AND ($2::bigint = 0 OR signature_id = $2)"
                            " ORDER BY id LIMIT $3";
    Result r(Query(sql.c_str(), p));
    return ReadReports(r, true, out, error);
  }

  bool Report(std::int64_t id, StoredReport* out, bool* found, std::string* error) override {
    if (!Connected(error)) return false;
    Params p;
    p.Int(id);
    const std::string sql = std::string("SELECT ") + kReportColumns + ", conts FROM reports WHERE id = $1";
    Result r(Query(sql.c_str(), p));
    std::vector<StoredReport> rows;
    if (!ReadReports(r, true, &rows, error)) return false;
    *found = !rows.empty();
    if (*found) *out = rows[0];
    return true;
  }

  bool CountReports(std::int64_t* count, std::string* error) override {
    if (!Connected(error)) return false;
    Result r(PQexecParams(conn_, "SELECT count(*) FROM reports", 0, nullptr, nullptr, nullptr, nullptr, 1));
    if (!r.Ok() || r.Rows() != 1) return Fail(error);
    *count = r.Int(0, 0);
    return true;
  }

  // A receiver adding a report of a signature this removes waits for this
  // transaction and then makes the signature anew; the foreign key refuses
  // the removal of one that a report committed meanwhile still names.
  bool RemoveBefore(std::int64_t beforeMs, int limit, std::int64_t* removed, std::string* error) override {
    *removed = 0;
    if (!Connected(error) || !Exec("BEGIN", error)) return false;
    Params p;
    p.Int(beforeMs).Int(limit);
    Result reports(Query("DELETE FROM reports WHERE id IN"
                         " (SELECT id FROM reports WHERE received_ms < $1 ORDER BY received_ms LIMIT $2)",
                         p));
    bool ok = reports.Ok();
    if (ok) {
      Params q;
      q.Int(beforeMs);
      Result signatures(Query("DELETE FROM signatures WHERE created_ms < $1"
                              " AND NOT EXISTS (SELECT 1 FROM reports WHERE signature_id = signatures.id)"
                              " AND NOT EXISTS (SELECT 1 FROM reports WHERE raw_signature_id = signatures.id)",
                              q));
      ok = signatures.Ok();
    }
    if (ok && Exec("COMMIT", error)) {
      *removed = std::atoll(reports.Affected());
      return true;
    }
    if (!ok) Fail(error);
    std::string ignored;
    Exec("ROLLBACK", &ignored);
    return false;
  }

  bool AddSymbolFile(const SymbolFile& f, const std::function<bool(std::string* part)>& nextPart,
                     std::string* error) override {
    if (!Connected(error) || !StoreParts(f, nextPart, error) || !Exec("BEGIN", error)) return false;
    Params p;
    p.Bytes(f.version).Bytes(f.module).Bytes(f.kind).Bytes(f.name).Bytes(f.digest).Int(f.size).Bytes(f.layout);
    p.Int(f.addedMs);
    Result row(Query("INSERT INTO symbol_files (version, module, kind, name, digest, size, layout, added_ms)"
                     " VALUES ($1, $2, $3, $4, $5, $6, $7, $8) ON CONFLICT (version, module, kind) DO UPDATE SET"
                     " name = $4, digest = $5, size = $6, layout = $7, added_ms = $8",
                     p));
    Params v;
    v.Bytes(f.version);
    const bool ok = row.Ok() && Result(Query("UPDATE reports SET resolved = NULL WHERE version = $1", v)).Ok();
    return Finish(ok, error);
  }

  bool SymbolFiles(const std::string& version, std::vector<SymbolFile>* out, std::string* error) override {
    out->clear();
    if (!Connected(error)) return false;
    Params p;
    p.Bytes(version);
    Result r(Query("SELECT version, module, kind, name, digest, size, layout, added_ms FROM symbol_files"
                   " WHERE length($1::bytea) = 0 OR version = $1 ORDER BY version, module, kind",
                   p));
    if (!r.Ok()) return Fail(error);
    for (int i = 0; i < r.Rows(); ++i) {
      out->push_back({r.Column(i, 0), r.Column(i, 1), r.Column(i, 2), r.Column(i, 3), r.Column(i, 4), r.Int(i, 5),
                      r.Int(i, 7), r.Column(i, 6)});
    }
    return true;
  }

  bool RemoveSymbols(const std::string& version, const std::string& module, std::int64_t* removed,
                     std::string* error) override {
    *removed = 0;
    if (!Connected(error) || !Exec("BEGIN", error)) return false;
    Params p;
    p.Bytes(version).Bytes(module);
    Result files(Query("DELETE FROM symbol_files WHERE version = $1 AND (length($2::text) = 0 OR module = $2)", p));
    bool ok = files.Ok() && Exec("DELETE FROM symbol_parts WHERE digest NOT IN (SELECT digest FROM symbol_files)", error);
    Params v;
    v.Bytes(version);
    ok = ok && Result(Query("UPDATE reports SET signature_id = raw_signature_id, resolved = NULL WHERE version = $1",
                            v)).Ok();
    if (ok) *removed = std::atoll(files.Affected());
    return Finish(ok, error);
  }

  bool SymbolPart(const std::string& digest, std::int64_t n, std::string* part, std::string* error) override {
    if (!Connected(error)) return false;
    Params p;
    p.Bytes(digest).Int(n);
    Result r(Query("SELECT bytes FROM symbol_parts WHERE digest = $1 AND part = $2", p));
    if (!r.Ok()) return Fail(error);
    *part = r.Rows() == 1 ? r.Column(0, 0) : std::string();
    return true;
  }

  bool UnresolvedReports(const std::string& version, std::int64_t afterId, int limit, std::vector<StoredReport>* out,
                         std::string* error) override {
    if (!Connected(error)) return false;
    Params p;
    p.Bytes(version).Int(afterId).Int(limit);
    const std::string sql = std::string("SELECT ") + kReportColumns +
                            ", conts FROM reports WHERE resolved IS NULL AND version = $1 AND id > $2"
                            " ORDER BY id LIMIT $3";
    Result r(Query(sql.c_str(), p));
    return ReadReports(r, true, out, error);
  }

  bool SetResolved(const std::vector<Resolution>& batch, std::string* error) override {
    if (!Connected(error) || !Exec("BEGIN", error)) return false;
    const std::string sql = std::string("UPDATE reports SET resolved = $1,"
                                        " signature_id = CASE WHEN $2::bigint = 0 THEN raw_signature_id ELSE $2 END"
                                        " WHERE id = $3 AND $4::text = ") + kSymbolStamp;
    bool ok = true;
    for (std::size_t i = 0; ok && i < batch.size(); ++i) {
      const SignatureSummary& s = batch[i].signature;
      if (!s.functions.empty()) {
        Params g;
        g.Int(s.id).Bytes(s.fmod).Bytes(s.fadd).Bytes(s.lmod).Bytes(s.ladd).Int(s.firstMs).Bytes(s.functions);
        ok = Result(Query("INSERT INTO signatures (id, fmod, fadd, lmod, ladd, created_ms, functions)"
                          " VALUES ($1, $2, $3, $4, $5, $6, $7) ON CONFLICT (id) DO NOTHING",
                          g)).Ok();
      }
      Params p;
      p.Bytes(batch[i].resolved).Int(s.functions.empty() ? 0 : s.id).Int(batch[i].reportId).Bytes(batch[i].stamp);
      ok = ok && Result(Query(sql.c_str(), p)).Ok();
    }
    return Finish(ok, error);
  }

  bool ResetResolved(const std::string& version, std::string* error) override {
    if (!Connected(error)) return false;
    Params p;
    p.Bytes(version);
    return Result(Query("UPDATE reports SET resolved = NULL WHERE length($1::bytea) = 0 OR version = $1", p)).Ok() ||
           Fail(error);
  }

  bool Setting(const std::string& name, std::string* value, std::string* error) override {
    if (!Connected(error)) return false;
    Params p;
    p.Bytes(name);
    Result r(Query("SELECT value FROM settings WHERE name = $1", p));
    if (!r.Ok()) return Fail(error);
    *value = r.Rows() == 1 ? r.Column(0, 0) : std::string();
    return true;
  }

  bool SetSetting(const std::string& name, const std::string& value, std::string* error) override {
    if (!Connected(error)) return false;
    Params p;
    p.Bytes(name).Bytes(value);
    return Result(Query("INSERT INTO settings (name, value) VALUES ($1, $2)"
                        " ON CONFLICT (name) DO UPDATE SET value = $2",
                        p)).Ok() ||
           Fail(error);
  }

  bool DailyCounts(std::int64_t sinceMs, std::int64_t signatureId, std::int64_t zoneOffsetMs,
                   std::vector<DayCount>* out, std::string* error) override {
    out->clear();
    if (!Connected(error)) return false;
    Params p;
    p.Int(sinceMs).Int(signatureId).Int(zoneOffsetMs);
    Result r(Query("SELECT ((received_ms + $3) / 86400000)::bigint AS day, version, count(*)::bigint FROM reports"
                   " WHERE received_ms >= $1 AND ($2::bigint = 0 OR signature_id = $2)"
                   " GROUP BY day, version ORDER BY day, version",
                   p));
    if (!r.Ok()) return Fail(error);
    for (int i = 0; i < r.Rows(); ++i) out->push_back({r.Int(i, 0), r.Column(i, 1), r.Int(i, 2)});
    return true;
  }

  bool Versions(std::vector<std::string>* out, std::string* error) override {
    out->clear();
    if (!Connected(error)) return false;
    Result r(PQexecParams(conn_, "SELECT DISTINCT version FROM reports", 0, nullptr, nullptr, nullptr, nullptr, 1));
    if (!r.Ok()) return Fail(error);
    for (int i = 0; i < r.Rows(); ++i) out->push_back(r.Column(i, 0));
    return true;
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

  // The file's bytes under its digest, a part a statement, unless they are all there.
  bool StoreParts(const SymbolFile& f, const std::function<bool(std::string* part)>& nextPart,
                  std::string* error) {
    Params d;
    d.Bytes(f.digest);
    Result have(Query("SELECT count(*)::bigint, coalesce(sum(length(bytes)), 0)::bigint FROM symbol_parts"
                      " WHERE digest = $1",
                      d));
    if (!have.Ok() || have.Rows() != 1) return Fail(error);
    const std::int64_t parts = (f.size + kSymbolPartBytes - 1) / kSymbolPartBytes;
    if (have.Int(0, 0) == parts && have.Int(0, 1) == f.size) return true;
    if (!Result(Query("DELETE FROM symbol_parts WHERE digest = $1", d)).Ok()) return Fail(error);
    std::string part;
    for (std::int64_t n = 0;; ++n) {
      if (!nextPart(&part)) {
        *error = "cannot read " + f.name;
        return false;
      }
      if (part.empty()) return true;
      Params p;
      p.Bytes(f.digest).Int(n).Bytes(part);
      if (!Result(Query("INSERT INTO symbol_parts (digest, part, bytes) VALUES ($1, $2, $3)", p)).Ok())
        return Fail(error);
    }
  }

  static SignatureSummary SummaryOf(const Result& r, int i) {
    SignatureSummary s;
    s.id = r.Int(i, 0);
    s.fmod = r.Column(i, 1);
    s.fadd = r.Column(i, 2);
    s.lmod = r.Column(i, 3);
    s.ladd = r.Column(i, 4);
    s.count = r.Int(i, 5);
    s.firstMs = r.Int(i, 6);
    s.lastMs = r.Int(i, 7);
    s.functions = r.Column(i, 8);
    return s;
  }

  bool SignatureVersions(SignatureSummary* s, std::string* error) {
    Params p;
    p.Int(s->id);
    Result r(Query("SELECT version, count(*) FROM reports WHERE signature_id = $1 GROUP BY version"
                   " ORDER BY max(received_ms) DESC, version",
                   p));
    if (!r.Ok()) return Fail(error);
    for (int i = 0; i < r.Rows(); ++i) s->versions.emplace_back(r.Column(i, 0), r.Int(i, 1));
    return true;
  }

  bool ReadReports(const Result& r, bool withLog, std::vector<StoredReport>* out, std::string* error) {
    out->clear();
    if (!r.Ok()) return Fail(error);
    for (int i = 0; i < r.Rows(); ++i) {
      StoredReport s;
      s.id = r.Int(i, 0);
      s.signatureId = r.Int(i, 1);
      s.receivedMs = r.Int(i, 2);
      s.remote = r.Column(i, 3);
      s.form.uid = r.Column(i, 4);
      s.form.fver = r.Column(i, 5);
      s.form.ver = r.Column(i, 6);
      s.form.fadd = r.Column(i, 7);
      s.form.fmod = r.Column(i, 8);
      s.form.ladd = r.Column(i, 9);
      s.form.lmod = r.Column(i, 10);
      s.resolved = r.Column(i, 11);
      if (withLog) s.form.conts = r.Column(i, 12);
      out->push_back(std::move(s));
    }
    return true;
  }

  PGconn* conn_;
  bool prepared_ = false;
};

}  // namespace

std::unique_ptr<ReportStore> OpenPostgresStore(const std::string& conninfo, bool upgrade, std::string* error,
                                               int* before) {
  PGconn* conn = PQconnectdb(conninfo.c_str());
  auto store = std::make_unique<PostgresStore>(conn);
  if (conn == nullptr || PQstatus(conn) != CONNECTION_OK) {
    store->Fail(error);
    *error = "cannot connect to PostgreSQL: " + *error;
    return nullptr;
  }
  // Player text is bytes; the server's messages stay readable.
  std::string ignored;
  store->Exec("SET client_min_messages = warning", &ignored);
  if (!store->Prepare(upgrade, error, before)) return nullptr;
  return store;
}

}  // namespace ulr
