#include "pages/routes.h"

#include <openssl/crypto.h>
#include <openssl/evp.h>
#include <openssl/sha.h>

#include <cerrno>
#include <cstdlib>

#include "pages/export.h"
#include "pages/pages.h"
#include "pages/trend_chart.h"
#include "receive/answers.h"
#include "store/retention.h"
#include "store/signature.h"

namespace ulr {

namespace {

void Html(httplib::Response& res, int status, const std::string& html) {
  res.status = status;
  res.set_header("Content-Security-Policy",
                 "default-src 'none'; style-src 'unsafe-inline'; base-uri 'none'; form-action 'none'; "
                 "frame-ancestors 'none'");
  res.set_header("X-Content-Type-Options", "nosniff");
  res.set_header("Referrer-Policy", "no-referrer");
  res.set_header("Cache-Control", "no-store");
  res.set_content(html, "text/html; charset=utf-8");
}

// Basic authentication with the password (any user name), compared in
// constant time through digests of both.
bool Authorized(const httplib::Request& req, const std::string& password) {
  const std::string header = req.get_header_value("Authorization");
  if (Lower(header.substr(0, 6)) != "basic ") return false;
  const std::string encoded = header.substr(6);
  if (encoded.size() > 1024 || encoded.size() % 4 != 0) return false;
  std::vector<unsigned char> decoded(encoded.size() / 4 * 3 + 1);
  int n = EVP_DecodeBlock(decoded.data(), reinterpret_cast<const unsigned char*>(encoded.data()),
                          static_cast<int>(encoded.size()));
  if (n < 0) return false;
  for (std::size_t i = encoded.size(); i > 0 && encoded[i - 1] == '='; --i) --n;
  const std::string pair(reinterpret_cast<const char*>(decoded.data()), static_cast<std::size_t>(n));
  const std::size_t colon = pair.find(':');
  if (colon == std::string::npos) return false;
  const std::string given = pair.substr(colon + 1);
  unsigned char a[SHA256_DIGEST_LENGTH], b[SHA256_DIGEST_LENGTH];
  SHA256(reinterpret_cast<const unsigned char*>(given.data()), given.size(), a);
  SHA256(reinterpret_cast<const unsigned char*>(password.data()), password.size(), b);
  return CRYPTO_memcmp(a, b, sizeof a) == 0;
}

int Offset(const httplib::Request& req) {
  const std::string v = req.get_param_value("offset");
  int n = 0;
  for (char c : v) {
    if (c < '0' || c > '9' || n > 100000000) return 0;
    n = n * 10 + (c - '0');
  }
  return n;
}

// The number in a page's address; 0 (which no row has) when it is out of
// range.
std::int64_t IdOf(const std::string& digits) {
  errno = 0;
  const long long id = std::strtoll(digits.c_str(), nullptr, 10);
  return errno == 0 ? id : 0;
}

// The trend chart of the last days (of one signature, when not 0).
bool Chart(ReportStore& store, std::int64_t signatureId, std::string* svg, std::string* error) {
  const std::int64_t now = NowMs();
  std::vector<DayCount> counts;
  const std::int64_t today = DayOf(now);
  const std::int64_t since = (today - kTrendDays + 1) * kDayMs - ZoneOffsetMs(now);
  if (!store.DailyCounts(since, signatureId, ZoneOffsetMs(now), &counts, error)) return false;
  *svg = TrendChart(counts, today);
  return true;
}

// The newest client version that reports carry; empty when none.
bool Newest(ReportStore& store, std::string* newest, std::string* error) {
  std::vector<std::string> versions;
  if (!store.Versions(&versions, error)) return false;
  newest->clear();
  for (const std::string& v : versions)
    if (newest->empty() || OlderVersion(*newest, v)) *newest = v;
  return true;
}

}  // namespace

std::shared_ptr<ReportStore> StorePool::Acquire(std::string* error) {
  std::unique_ptr<ReportStore> store;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (!free_.empty()) {
      store = std::move(free_.back());
      free_.pop_back();
    }
  }
  if (!store) store = OpenStore(address_, false, error);
  if (!store) return nullptr;
  return std::shared_ptr<ReportStore>(store.release(), [this](ReportStore* s) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (free_.size() < 8) free_.emplace_back(s);
    else delete s;
  });
}

PageRoutes::PageRoutes(const std::string& store, std::string password, AddressRanges from, bool trustProxy)
    : password_(std::move(password)),
      from_(std::move(from)),
      trustProxy_(trustProxy),
      failedLogins_(kLoginFailuresPerMinute, kLoginFailures),
      pool_(store) {}

void PageRoutes::Install(httplib::Server& svr) {
  svr.Get("/", [this](const httplib::Request& req, httplib::Response& res) { List(req, res); });
  svr.Get(R"(/signatures/(\d{1,19}))",
          [this](const httplib::Request& req, httplib::Response& res) { ShowSignature(req, res); });
  svr.Get(R"(/signatures/(\d{1,19})/reports\.(csv|json))",
          [this](const httplib::Request& req, httplib::Response& res) { ExportSignature(req, res); });
  svr.Get(R"(/reports/(\d{1,19}))",
          [this](const httplib::Request& req, httplib::Response& res) { ShowReport(req, res, false); });
  svr.Get(R"(/reports/(\d{1,19})/log)",
          [this](const httplib::Request& req, httplib::Response& res) { ShowReport(req, res, true); });
}

// The pages go only to the allowed addresses, with the password; a sender
// that failed too often is refused even the right one for a while, so the
// password cannot be guessed at the network's speed.
bool PageRoutes::Screen(const httplib::Request& req, httplib::Response& res) {
  if (password_.empty()) {
    Plain(res, 404, "not found");
    return true;
  }
  if (!from_.Contains(req.remote_addr)) {
    Plain(res, 403, "the pages are not served to this address");
    return true;
  }
  if (req.method != "GET" && req.method != "HEAD") {
    res.set_header("Allow", "GET, HEAD");
    Plain(res, 405, "the pages are read with GET");
    return true;
  }
  const std::string sender = SenderKey(Sender(req, trustProxy_));
  if (!failedLogins_.Has(sender, NowMs())) {
    res.set_header("Retry-After", std::to_string(60 / kLoginFailuresPerMinute));
    Html(res, 429, MessagePage("로그인 시도가 너무 많습니다", "잠시 후 다시 시도해 주십시오."));
    Log("429 to " + Sender(req, trustProxy_) + ": too many failed logins");
    return true;
  }
  if (!Authorized(req, password_)) {
    if (req.has_header("Authorization")) failedLogins_.Take(sender, NowMs());
    res.set_header("WWW-Authenticate", "Basic realm=\"ulmet-reports\", charset=\"UTF-8\"");
    Html(res, 401, MessagePage("암호가 필요합니다", "충돌 보고를 보려면 운영자 암호를 입력해 주십시오."));
    return true;
  }
  return false;
}

std::shared_ptr<ReportStore> PageRoutes::Store(httplib::Response& res) {
  std::string error;
  auto store = pool_.Acquire(&error);
  if (!store) StoreFailed(res, error);
  return store;
}

void PageRoutes::StoreFailed(httplib::Response& res, const std::string& error) {
  Log("store: " + error);
  Html(res, 503, MessagePage("저장소에 연결할 수 없습니다", "잠시 후 다시 시도해 주십시오."));
}

void PageRoutes::NotFound(httplib::Response& res) {
  Html(res, 404, MessagePage("찾을 수 없습니다", "이 주소에는 서명이나 보고가 없습니다."));
}

void PageRoutes::List(const httplib::Request& req, httplib::Response& res) {
  auto store = Store(res);
  if (!store) return;
  const int offset = Offset(req);
  std::vector<SignatureSummary> rows;
  std::int64_t total = 0;
  std::string error, chart, newest;
  if (!store->Signatures(kPageRows + 1, offset, &rows, &error) || !store->CountReports(&total, &error) ||
      !Chart(*store, 0, &chart, &error) || !Newest(*store, &newest, &error))
    return StoreFailed(res, error);
  const bool more = rows.size() > static_cast<std::size_t>(kPageRows);
  if (more) rows.pop_back();
  Html(res, 200, SignatureListPage(rows, total, offset, more, chart, newest));
}

void PageRoutes::ShowSignature(const httplib::Request& req, httplib::Response& res) {
  auto store = Store(res);
  if (!store) return;
  SignatureSummary s;
  bool found = false;
  std::vector<StoredReport> reports;
  std::string error, chart;
  const int offset = Offset(req);
  if (!store->Signature(IdOf(req.matches[1]), &s, &found, &error) ||
      (found && (!store->SignatureReports(s.id, kPageRows + 1, offset, &reports, &error) ||
                 !Chart(*store, s.id, &chart, &error))))
    return StoreFailed(res, error);
  if (!found) return NotFound(res);
  const bool more = reports.size() > static_cast<std::size_t>(kPageRows);
  if (more) reports.pop_back();
  Html(res, 200, SignaturePage(s, reports, offset, more, chart));
}

void PageRoutes::ShowReport(const httplib::Request& req, httplib::Response& res, bool rawLog) {
  auto store = Store(res);
  if (!store) return;
  StoredReport r;
  bool found = false;
  std::string error;
  if (!store->Report(IdOf(req.matches[1]), &r, &found, &error)) return StoreFailed(res, error);
  if (!found) return NotFound(res);
  if (!rawLog) return Html(res, 200, ReportPage(r));
  // The file as it lay in the player's Log folder, bytes unchanged.
  res.set_header("Content-Disposition", "attachment; filename=\"report-" + std::to_string(r.id) + "_exception.log\"");
  res.set_header("X-Content-Type-Options", "nosniff");
  res.set_content(RestoreLog(r.form.conts), "application/octet-stream");
}

void PageRoutes::ExportSignature(const httplib::Request& req, httplib::Response& res) {
  auto store = Store(res);
  if (!store) return;
  SignatureSummary s;
  bool found = false;
  std::string error;
  if (!store->Signature(IdOf(req.matches[1]), &s, &found, &error)) return StoreFailed(res, error);
  if (!found) return NotFound(res);
  const ExportFormat format = req.matches[2] == "csv" ? ExportFormat::kCsv : ExportFormat::kJson;
  res.set_header("Content-Disposition", "attachment; filename=\"signature-" + std::to_string(s.id) + "." +
                                            std::string(req.matches[2]) + "\"");
  auto exporter = std::make_shared<Export>(*store, s, format);
  // The store connection stays with the export until its last piece.
  res.set_chunked_content_provider(
      Export::ContentType(format), [store, exporter](std::size_t, httplib::DataSink& sink) {
        std::string piece, error;
        bool end = false;
        if (!exporter->Next(&piece, &end, &error)) {
          Log("export: " + error);
          return false;
        }
        if (!piece.empty() && !sink.write(piece.data(), piece.size())) return false;
        if (end) sink.done();
        return true;
      });
}

}  // namespace ulr
