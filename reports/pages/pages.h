// The operator's pages: plain HTML made on the server, in Korean like the
// updater's own texts. Everything that came from a player is decoded from
// code page 949 and escaped where it is put.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "store/store.h"

namespace ulr {

// The number of rows one page shows.
constexpr int kPageRows = 100;

// "2026-05-01 12:34:56" in the server's time zone.
std::string LocalTime(std::int64_t ms);

// The signatures, last seen first, under the trend chart (trend_chart.h).
// more: a next page exists. A signature whose every report came from
// newest (the newest client version that reports carry) is marked new.
std::string SignatureListPage(const std::vector<SignatureSummary>& rows, std::int64_t totalReports, int offset,
                              bool more, const std::string& chart, const std::string& newest);
// One signature, its trend chart and a page of its reports, newest first.
std::string SignaturePage(const SignatureSummary& signature, const std::vector<StoredReport>& reports, int offset,
                          bool more, const std::string& chart);
// One report: its fields, its places with what the symbols say of them,
// and its whole log.
std::string ReportPage(const StoredReport& report);

// A signature's functions (SignatureSummary::functions) as (module, function) pairs.
std::vector<std::pair<std::string, std::string>> SignatureFunctions(const std::string& functions);
// "function+0x1b" (just the function when the offset is unknown).
std::string FunctionAt(const std::string& function, std::int64_t offset);
// A short page with one sentence, for errors.
std::string MessagePage(const std::string& title, const std::string& text);

}  // namespace ulr
