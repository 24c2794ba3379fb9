#include "pages/export.h"

#include <cstdio>
#include <ctime>
#include <vector>

#include "pages/pages.h"
#include "pages/report_text.h"
#include "store/signature.h"
#include "symbols/crash_stack.h"

namespace ulr {

namespace {

constexpr int kBatch = 100;

std::string Text(const std::string& cp949) { return DisplayText(cp949); }

// A report's places and what its symbols say of them (frames empty when
// it is not resolved).
struct Frame {
  const CrashPlace* place;
  const Resolved* resolved;
};
std::vector<Frame> Frames(const std::vector<CrashPlace>& places, const std::vector<Resolved>& resolved) {
  std::vector<Frame> frames;
  for (std::size_t i = 0; i < places.size(); ++i)
    frames.push_back({&places[i], resolved.size() == places.size() ? &resolved[i] : nullptr});
  return frames;
}

// One line a place: the log's line, then "=> function+0x.. file:line".
std::string CsvFrames(const std::vector<Frame>& frames) {
  std::string out;
  for (const Frame& f : frames) {
    out += Text(f.place->line);
    if (f.resolved != nullptr && !f.resolved->function.empty())
      out += " => " + SymbolText(FunctionAt(f.resolved->function, f.resolved->functionOffset)) +
             (f.resolved->file.empty() ? "" : " " + SymbolText(f.resolved->file) + ":" + std::to_string(f.resolved->line));
    out += "\n";
  }
  return out;
}

std::string JsonFrames(const std::vector<Frame>& frames) {
  std::string out;
  for (const Frame& f : frames) {
    const Resolved* r = f.resolved;
    out += std::string(out.empty() ? "" : ",") + "{\"fault\":" + (f.place->fault ? "true" : "false") +
           ",\"line\":" + JsonString(Text(f.place->line)) + ",\"module\":" + JsonString(Text(f.place->module)) +
           ",\"section\":" + std::to_string(f.place->section) + ",\"offset\":" + std::to_string(f.place->offset);
    if (r != nullptr && !r->function.empty()) {
      out += ",\"function\":" + JsonString(SymbolText(r->function)) +
             (r->functionOffset >= 0 ? ",\"function_offset\":" + std::to_string(r->functionOffset) : "") +
             (r->file.empty() ? "" : ",\"file\":" + JsonString(SymbolText(r->file))) +
             (r->line > 0 ? ",\"source_line\":" + std::to_string(r->line) : "");
    }
    out += "}";
  }
  return "[" + out + "]";
}

std::string CsvRow(const StoredReport& r) {
  const std::vector<CrashPlace> places = ReadCrashPlaces(r.form.conts);
  std::vector<Resolved> resolved;
  ReadResolved(r.resolved, &resolved);
  const std::string cells[] = {std::to_string(r.id), UtcTime(r.receivedMs), r.remote, Text(r.form.uid),
                               Text(r.form.fver), Text(ClientVersion(r.form.ver)), Text(r.form.fadd),
                               Text(r.form.fmod), Text(r.form.ladd), Text(r.form.lmod),
                               CsvFrames(Frames(places, resolved)), Text(r.form.conts)};
  std::string row;
  for (const auto& c : cells) row += (row.empty() ? "" : ",") + CsvCell(c);
  return row + "\r\n";
}

std::string JsonReport(const StoredReport& r) {
  const std::vector<CrashPlace> places = ReadCrashPlaces(r.form.conts);
  std::vector<Resolved> resolved;
  ReadResolved(r.resolved, &resolved);
  return "{\"id\":" + std::to_string(r.id) + ",\"received\":" + JsonString(UtcTime(r.receivedMs)) +
         ",\"remote\":" + JsonString(r.remote) + ",\"uid\":" + JsonString(Text(r.form.uid)) +
         ",\"fver\":" + JsonString(Text(r.form.fver)) + ",\"ver\":" + JsonString(Text(r.form.ver)) +
         ",\"fadd\":" + JsonString(Text(r.form.fadd)) + ",\"fmod\":" + JsonString(Text(r.form.fmod)) +
         ",\"ladd\":" + JsonString(Text(r.form.ladd)) + ",\"lmod\":" + JsonString(Text(r.form.lmod)) +
         ",\"frames\":" + JsonFrames(Frames(places, resolved)) + ",\"log\":" + JsonString(Text(r.form.conts)) + "}";
}

std::string JsonHead(const SignatureSummary& s) {
  std::string versions;
  for (const auto& v : s.versions)
    versions += (versions.empty() ? "" : ",") + std::string("{\"version\":") + JsonString(Text(v.first)) +
                ",\"reports\":" + std::to_string(v.second) + "}";
  std::string functions;
  for (const auto& f : SignatureFunctions(s.functions))
    functions += (functions.empty() ? "" : ",") + std::string("{\"module\":") + JsonString(Text(f.first)) +
                 ",\"function\":" + JsonString(SymbolText(f.second)) + "}";
  return "{\"signature\":{\"id\":" + std::to_string(s.id) + ",\"functions\":[" + functions + "],\"fmod\":" + JsonString(Text(s.fmod)) +
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
                   "\"lmod\",\"frames\",\"log\"\r\n"
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
