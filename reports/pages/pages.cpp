#include "pages/pages.h"

#include <cstdio>
#include <ctime>

#include "pages/report_text.h"
#include "receive/report_form.h"
#include "store/signature.h"
#include "symbols/crash_stack.h"

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
    "table.fields th{width:180px}.kind{font-size:12px;color:#fff;background:#5a6472;border-radius:3px;"
    "padding:1px 5px;margin-right:6px;white-space:nowrap}.kind.fn{background:#1e8e3e}"
    ".new{font-size:12px;color:#fff;background:#d93025;border-radius:3px;padding:1px 5px;margin-left:6px;"
    "white-space:nowrap}"
    ".chain{color:#5a6472;font-size:13px}svg.trend{display:block;background:#fff;border:1px solid #d5dae1;"
    "margin:8px 0 18px}td.fn{font-family:'NanumGothicCoding','DejaVu Sans Mono',monospace;font-size:14px}";

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

// Text from the symbols, shown.
std::string Sym(const std::string& utf8) { return HtmlEscape(SymbolText(utf8)); }

// A signature in one cell: its functions (with symbols) or its raw fields.
std::string SignatureCell(const SignatureSummary& s, bool link) {
  const std::string open = link ? "<a href=\"/signatures/" + std::to_string(s.id) + "\">" : "";
  const std::string close = link ? "</a>" : "";
  const auto functions = SignatureFunctions(s.functions);
  if (functions.empty()) {
    return "<span class=kind>주소</span>" + open + Cell(s.fmod) + close + " <code>" + Cell(s.fadd) +
           "</code><br><span class=chain>마지막 스택: " + Cell(s.lmod) + " <code>" + Cell(s.ladd) + "</code></span>";
  }
  std::string chain;
  for (std::size_t i = 1; i < functions.size(); ++i)
    chain += " &larr; " + (functions[i].second.empty() ? Shown(functions[i].first) : Sym(functions[i].second));
  return "<span class=\"kind fn\">함수</span>" + open + "<code>" + Shown(functions[0].first) + "!" +
         Sym(functions[0].second) + "</code>" + close + (chain.empty() ? "" : "<br><span class=chain>" + chain.substr(1) + "</span>");
}

// Marked when every report of the signature came from the newest version.
std::string NewMark(const SignatureSummary& s, const std::string& newest) {
  if (newest.empty() || s.versions.empty()) return "";
  for (const auto& v : s.versions)
    if (v.first != newest) return "";
  return "<span class=new>" + Shown(newest) + "에서 처음</span>";
}

// The rows of a signature made with symbols: its functions, top first.
std::string FunctionRows(const SignatureSummary& s) {
  std::string rows;
  const auto functions = SignatureFunctions(s.functions);
  for (std::size_t i = 0; i < functions.size(); ++i) {
    rows += "<tr><th>" + std::string(i == 0 ? "오류 함수" : "스택 함수 " + std::to_string(i)) + "</th><td class=fn>" +
            Shown(functions[i].first) + (functions[i].second.empty() ? "" : "!" + Sym(functions[i].second)) +
            "</td></tr>\n";
  }
  return rows;
}

// Each place of the log with what the symbols say of it, the raw line beside.
std::string PlacesTable(const StoredReport& r) {
  const std::vector<CrashPlace> places = ReadCrashPlaces(r.form.conts);
  if (places.empty()) return "";
  std::vector<Resolved> frames;
  const bool resolved = ReadResolved(r.resolved, &frames) && frames.size() == places.size();
  std::string out = "<h2>스택</h2>\n";
  if (!resolved) out += "<p class=sub>이 보고의 클라이언트 버전에는 아직 심볼이 없습니다.</p>\n";
  out += "<table>\n<thead><tr><th>위치</th><th>함수</th><th>소스</th><th>로그의 줄</th></tr></thead>\n<tbody>\n";
  for (std::size_t i = 0; i < places.size(); ++i) {
    const Resolved* f = resolved ? &frames[i] : nullptr;
    const std::string where = places[i].fault ? "오류" : "#" + std::to_string(places[0].fault ? i : i + 1);
    const std::string function = f && !f->function.empty() ? Sym(FunctionAt(f->function, f->functionOffset)) : "";
    const std::string source = f && !f->file.empty() ? Sym(f->file) + (f->line > 0 ? ":" + std::to_string(f->line) : "") : "";
    out += "<tr><td>" + where + "</td><td class=fn>" + (function.empty() ? "<span class=none>-</span>" : function) +
           "</td><td class=fn>" + (source.empty() ? "<span class=none>-</span>" : source) + "</td><td><code>" +
           Shown(places[i].line) + "</code></td></tr>\n";
  }
  return out + "</tbody></table>\n";
}

}  // namespace

std::vector<std::pair<std::string, std::string>> SignatureFunctions(const std::string& functions) {
  std::vector<std::pair<std::string, std::string>> out;
  std::size_t at = 0;
  while (at < functions.size()) {
    std::size_t end = functions.find('\n', at);
    if (end == std::string::npos) end = functions.size();
    const std::string line = functions.substr(at, end - at);
    const std::size_t tab = line.find('\t');
    if (tab != std::string::npos) out.emplace_back(line.substr(0, tab), line.substr(tab + 1));
    at = end + 1;
  }
  return out;
}

std::string FunctionAt(const std::string& function, std::int64_t offset) {
  if (offset < 0) return function;
  char hex[24];
  std::snprintf(hex, sizeof hex, "+0x%llx", static_cast<unsigned long long>(offset));
  return function + hex;
}

std::string LocalTime(std::int64_t ms) {
  std::time_t t = static_cast<std::time_t>(ms / 1000);
  std::tm tm{};
  localtime_r(&t, &tm);
  char text[32];
  std::strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S", &tm);
  return text;
}

std::string SignatureListPage(const std::vector<SignatureSummary>& rows, std::int64_t totalReports, int offset,
                              bool more, const std::string& chart, const std::string& newest) {
  std::string body = "<h1>울메 충돌 보고</h1>\n<p class=sub>받은 보고 " + std::to_string(totalReports) +
                     "건 &middot; 최근에 받은 서명부터 (시각: " + HtmlEscape(Zone()) + ")</p>\n";
  if (rows.empty() && offset == 0) return Document("울메 충돌 보고", body + "<p>아직 받은 보고가 없습니다.</p>");
  body += "<h2>최근 30일 보고 (클라이언트 버전별)</h2>\n" + chart + "\n";
  body +=
      "<table>\n<thead><tr><th>서명</th><th>보고 수</th><th>처음 받음</th><th>마지막 받음</th>"
      "<th>클라이언트 버전</th></tr></thead>\n<tbody>\n";
  for (const auto& s : rows) {
    body += "<tr><td>" + SignatureCell(s, true) + NewMark(s, newest) + "</td><td class=n>" +
            std::to_string(s.count) + "</td><td>" + LocalTime(s.firstMs) + "</td><td>" + LocalTime(s.lastMs) +
            "</td><td>" + Versions(s) + "</td></tr>\n";
  }
  body += "</tbody></table>\n" + Pager("/", offset, more);
  return Document("울메 충돌 보고", body);
}

std::string SignaturePage(const SignatureSummary& s, const std::vector<StoredReport>& reports, int offset,
                          bool more, const std::string& chart) {
  const std::string base = "/signatures/" + std::to_string(s.id);
  std::string body = "<p class=nav><a href=\"/\">&larr; 서명 목록</a></p>\n<h1>충돌 서명</h1>\n";
  body += "<p class=sub>" + SignatureCell(s, false) + "</p>\n";
  body += "<table class=fields>\n" + FunctionRows(s) + "<tr><th>보고 수</th><td>" + std::to_string(s.count) +
          "</td></tr>\n<tr><th>처음 받음</th><td>" + LocalTime(s.firstMs) + "</td></tr>\n<tr><th>마지막 받음</th><td>" +
          LocalTime(s.lastMs) + "</td></tr>\n<tr><th>클라이언트 버전</th><td>" + Versions(s) +
          "</td></tr>\n<tr><th>내보내기</th><td><a href=\"" + base + "/reports.csv\">CSV</a> &middot; <a href=\"" +
          base + "/reports.json\">JSON</a></td></tr>\n</table>\n";
  body += "<h2>최근 30일 보고 (클라이언트 버전별)</h2>\n" + chart + "\n";
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
  body += "</table>\n" + PlacesTable(r) + "<h2>로그 전체</h2>\n<p><a href=\"/reports/" + id + "/log\">원본 로그 내려받기</a> (" +
          std::to_string(log.size()) + "바이트)</p>\n<pre>" + Shown(r.form.conts) + "</pre>\n";
  return Document("보고 " + id + " - 울메 충돌 보고", body);
}

std::string MessagePage(const std::string& title, const std::string& text) {
  return Document(title, "<p class=nav><a href=\"/\">&larr; 서명 목록</a></p>\n<h1>" + HtmlEscape(title) +
                             "</h1>\n<p>" + HtmlEscape(text) + "</p>");
}

}  // namespace ulr
