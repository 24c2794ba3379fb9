#include "pages/export.h"

#include <cstdio>
#include <ctime>
#include <vector>

#include "pages/report_text.h"
#include "store/signature.h"

namespace ulr {

namespace {

constexpr int kBatch = 100;

std::string Text(const std::string& cp949) { return DisplayText(cp949); }

std::string CsvRow(const StoredReport& r) {
  const std::string cells[] = {std::to_string(r.id), UtcTime(r.receivedMs), r.remote, Text(r.form.uid),
                               Text(r.form.fver), Text(ClientVersion(r.form.ver)), Text(r.form.fadd),
                               Text(r.form.fmod), Text(r.form.ladd), Text(r.form.lmod), Text(r.form.conts)};
  std::string row;
  for (const auto& c : cells) row += (row.empty() ? "" : ",") + CsvCell(c);
  return row + "\r\n";
}

std::string JsonReport(const StoredReport& r) {
  return "{\"id\":" + std::to_string(r.id) + ",\"received\":" + JsonString(UtcTime(r.receivedMs)) +
         ",\"remote\":" + JsonString(r.remote) + ",\"uid\":" + JsonString(Text(r.form.uid)) +
         ",\"fver\":" + JsonString(Text(r.form.fver)) + ",\"ver\":" + JsonString(Text(r.form.ver)) +
         ",\"fadd\":" + JsonString(Text(r.form.fadd)) + ",\"fmod\":" + JsonString(Text(r.form.fmod)) +
         ",\"ladd\":" + JsonString(Text(r.form.ladd)) + ",\"lmod\":" + JsonString(Text(r.form.lmod)) +
         ",\"log\":" + JsonString(Text(r.form.conts)) + "}";
}

std::string JsonHead(const SignatureSummary& s) {
  std::string versions;
  for (const auto& v : s.versions)
    versions += (versions.empty() ? "" : ",") + std::string("{\"version\":") + JsonString(Text(v.first)) +
                ",\"reports\":" + std::to_string(v.second) + "}";
  return "{\"signature\":{\"id\":" + std::to_string(s.id) + ",\"fmod\":" + JsonString(Text(s.fmod)) +
         ",\"fadd\":" + JsonString(Text(s.fadd)) + ",\"lmod\":" + JsonString(Text(s.lmod)) +
         ",\"ladd\":" + JsonString(Text(s.ladd)) + ",\"reports\":" + std::to_string(s.count) +
         ",\"first_received\":" + JsonString(UtcTime(s.firstMs)) + ",\"last_received\":" +
         JsonString(UtcTime(s.lastMs)) + ",\"versions\":[" + versions + "]},\n\"reports\":[\n";
}

}  // namespace

std::string UtcTime(std::int64_t ms) {
  std::time_t t = static_cast<std::time_t>(ms / 1000);
  std::tm tm{};
  gmtime_r(&t, &tm);
  char text[40];
  const std::size_t n = std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%S", &tm);
  std::snprintf(text + n, sizeof text - n, ".%03dZ", static_cast<int>(ms % 1000));
  return text;
}

const char* Export::ContentType(ExportFormat format) {
  return format == ExportFormat::kCsv ? "text/csv; charset=utf-8" : "application/json; charset=utf-8";
}

bool Export::Next(std::string* piece, bool* end, std::string* error) {
  piece->clear();
  *end = false;
  if (!started_) {
    started_ = true;
    // The mark lets spreadsheets read the file as UTF-8.
    *piece = format_ == ExportFormat::kCsv
                 ? "\xEF\xBB\xBF\"report\",\"received\",\"remote\",\"uid\",\"fver\",\"ver\",\"fadd\",\"fmod\",\"ladd\","
                   "\"lmod\",\"log\"\r\n"
                 : JsonHead(signature_);
    return true;
  }
  std::vector<StoredReport> rows;
  if (!store_.ReportsAfter(after_, signature_.id, kBatch, &rows, error)) return false;
  for (const auto& r : rows) {
    if (format_ == ExportFormat::kCsv) {
      *piece += CsvRow(r);
    } else {
      *piece += (first_ ? "" : ",\n") + JsonReport(r);
      first_ = false;
    }
    after_ = r.id;
  }
  if (rows.size() < static_cast<std::size_t>(kBatch)) {
    if (format_ == ExportFormat::kJson) *piece += "\n]}\n";
    *end = true;
  }
  return true;
}

}  // namespace ulr
