#include "pages/pages.h"

#include <ctime>

#include "pages/report_text.h"
#include "receive/report_form.h"
#include "store/signature.h"

namespace ulr {

namespace {

// Player bytes, shown.
std::string Shown(const std::string& cp949) { return HtmlEscape(DisplayText(cp949)); }

// A field that may be empty: a dash then.
std::string Cell(const std::string& cp949) { return cp949.empty() ? "<span class=none>-</span>" : Shown(cp949); }

const char kStyle[] =
    "body{font-family:'NanumGothic','Noto Sans CJK KR',sans-serif;margin:24px 32px;color:#1d2330;"
    "background:#fafbfc;font-size:15px}"
    "h1{font-size:22px;margin:0 0 4px}h2{font-size:18px;margin:28px 0 8px}"
    ".sub{color:#5a6472;margin:0 0 18px}a{color:#0b57d0;text-decoration:none}a:hover{text-decoration:underline}"
    "table{border-collapse:collapse;background:#fff;border:1px solid #d5dae1}"
    "th,td{padding:6px 10px;border-bottom:1px solid #e4e8ee;text-align:left;vertical-align:top}"
    "th{background:#eef1f5;font-weight:bold;white-space:nowrap}td.n{text-align:right;font-variant-numeric:tabular-nums}"
    "code,pre{font-family:'NanumGothicCoding','DejaVu Sans Mono',monospace;font-size:14px}"
    "pre{background:#fff;border:1px solid #d5dae1;padding:12px;white-space:pre-wrap;word-break:break-all}"
    ".none{color:#9aa3ae}.nav{margin:0 0 14px}.pages{margin:12px 0}.pages a{margin-right:14px}"
    "table.fields th{width:180px}";

std::string Document(const std::string& title, const std::string& body) {
  return "<!DOCTYPE html>\n<html lang=\"ko\"><head><meta charset=\"utf-8\"><title>" + HtmlEscape(title) +
         "</title><style>" + kStyle + "</style></head><body>\n" + body + "\n</body></html>\n";
}

std::string Versions(const SignatureSummary& s) {
  std::string out;
  for (const auto& v : s.versions) {
    if (!out.empty()) out += ", ";
    out += (v.first.empty() ? std::string("<span class=none>(없음)</span>") : Shown(v.first)) + " <span class=none>(" +
           std::to_string(v.second) + "건)</span>";
  }
  return out;
}

std::string Pager(const std::string& base, int offset, bool more) {
  if (offset == 0 && !more) return "";
  std::string out = "<p class=pages>";
  const char* join = base.find('?') == std::string::npos ? "?" : "&amp;";
  if (offset > 0) {
    const int previous = offset > kPageRows ? offset - kPageRows : 0;
    out += "<a href=\"" + base + join + "offset=" + std::to_string(previous) + "\">&larr; 이전</a>";
  }
  if (more) out += "<a href=\"" + base + join + "offset=" + std::to_string(offset + kPageRows) + "\">다음 &rarr;</a>";
  return out + "</p>";
}

std::string Zone() {
  std::time_t now = std::time(nullptr);
  std::tm tm{};
  localtime_r(&now, &tm);
  char zone[16];
  return std::strftime(zone, sizeof zone, "%Z", &tm) > 0 ? zone : "";
}

}  // namespace

std::string LocalTime(std::int64_t ms) {
  std::time_t t = static_cast<std::time_t>(ms / 1000);
  std::tm tm{};
  localtime_r(&t, &tm);
  char text[32];
  std::strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S", &tm);
  return text;
}

std::string SignatureListPage(const std::vector<SignatureSummary>& rows, std::int64_t totalReports, int offset,
                              bool more) {
  std::string body = "<h1>울메 충돌 보고</h1>\n<p class=sub>받은 보고 " + std::to_string(totalReports) +
                     "건 &middot; 최근에 받은 서명부터 (시각: " + HtmlEscape(Zone()) + ")</p>\n";
  if (rows.empty() && offset == 0) return Document("울메 충돌 보고", body + "<p>아직 받은 보고가 없습니다.</p>");
  body +=
      "<table>\n<thead><tr><th>오류 모듈</th><th>오류 위치</th><th>마지막 스택 모듈</th><th>스택 위치</th>"
      "<th>보고 수</th><th>처음 받음</th><th>마지막 받음</th><th>클라이언트 버전</th></tr></thead>\n<tbody>\n";
  for (const auto& s : rows) {
    const std::string link = "/signatures/" + std::to_string(s.id);
    body += "<tr><td><a href=\"" + link + "\">" + Cell(s.fmod) + "</a></td><td><code>" + Cell(s.fadd) +
            "</code></td><td>" + Cell(s.lmod) + "</td><td><code>" + Cell(s.ladd) + "</code></td><td class=n>" +
            std::to_string(s.count) + "</td><td>" + LocalTime(s.firstMs) + "</td><td>" + LocalTime(s.lastMs) +
            "</td><td>" + Versions(s) + "</td></tr>\n";
  }
  body += "</tbody></table>\n" + Pager("/", offset, more);
  return Document("울메 충돌 보고", body);
}

std::string SignaturePage(const SignatureSummary& s, const std::vector<StoredReport>& reports, int offset,
                          bool more) {
  const std::string base = "/signatures/" + std::to_string(s.id);
  std::string body = "<p class=nav><a href=\"/\">&larr; 서명 목록</a></p>\n<h1>충돌 서명</h1>\n";
  body += "<p class=sub>" + Cell(s.fmod) + " <code>" + Cell(s.fadd) + "</code> &middot; " + Cell(s.lmod) +
          " <code>" + Cell(s.ladd) + "</code></p>\n";
  body += "<table class=fields>\n<tr><th>보고 수</th><td>" + std::to_string(s.count) +
          "</td></tr>\n<tr><th>처음 받음</th><td>" + LocalTime(s.firstMs) + "</td></tr>\n<tr><th>마지막 받음</th><td>" +
          LocalTime(s.lastMs) + "</td></tr>\n<tr><th>클라이언트 버전</th><td>" + Versions(s) +
          "</td></tr>\n<tr><th>내보내기</th><td><a href=\"" + base + "/reports.csv\">CSV</a> &middot; <a href=\"" +
          base + "/reports.json\">JSON</a></td></tr>\n</table>\n";
  body += "<h2>보고</h2>\n<table>\n<thead><tr><th>번호</th><th>받은 시각</th><th>uid</th><th>클라이언트 버전</th>"
          "<th>보낸 주소</th></tr></thead>\n<tbody>\n";
  for (const auto& r : reports) {
    body += "<tr><td class=n><a href=\"/reports/" + std::to_string(r.id) + "\">" + std::to_string(r.id) +
            "</a></td><td>" + LocalTime(r.receivedMs) + "</td><td>" + Cell(r.form.uid) + "</td><td>" +
            Cell(ClientVersion(r.form.ver)) + "</td><td>" + HtmlEscape(r.remote) + "</td></tr>\n";
  }
  body += "</tbody></table>\n" + Pager(base, offset, more);
  return Document("충돌 서명 - 울메 충돌 보고", body);
}

std::string ReportPage(const StoredReport& r) {
  const std::string id = std::to_string(r.id);
  const std::string log = RestoreLog(r.form.conts);
  std::string body = "<p class=nav><a href=\"/\">서명 목록</a> &rsaquo; <a href=\"/signatures/" +
                     std::to_string(r.signatureId) + "\">이 보고의 서명</a></p>\n<h1>보고 " + id + "</h1>\n";
  const std::pair<const char*, const std::string*> fields[] = {
      {"uid", &r.form.uid},           {"fver", &r.form.fver},         {"클라이언트 버전 (ver)", &r.form.ver},
      {"오류 위치 (fadd)", &r.form.fadd}, {"오류 모듈 (fmod)", &r.form.fmod}, {"스택 위치 (ladd)", &r.form.ladd},
      {"마지막 스택 모듈 (lmod)", &r.form.lmod}};
  body += "<table class=fields>\n<tr><th>받은 시각</th><td>" + LocalTime(r.receivedMs) +
          "</td></tr>\n<tr><th>보낸 주소</th><td>" + HtmlEscape(r.remote) + "</td></tr>\n";
  for (const auto& f : fields) body += "<tr><th>" + std::string(f.first) + "</th><td><code>" + Cell(*f.second) + "</code></td></tr>\n";
  body += "</table>\n<h2>로그 전체</h2>\n<p><a href=\"/reports/" + id + "/log\">원본 로그 내려받기</a> (" +
          std::to_string(log.size()) + "바이트)</p>\n<pre>" + Shown(r.form.conts) + "</pre>\n";
  return Document("보고 " + id + " - 울메 충돌 보고", body);
}

std::string MessagePage(const std::string& title, const std::string& text) {
  return Document(title, "<p class=nav><a href=\"/\">&larr; 서명 목록</a></p>\n<h1>" + HtmlEscape(title) +
                             "</h1>\n<p>" + HtmlEscape(text) + "</p>");
}

}  // namespace ulr
