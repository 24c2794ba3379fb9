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

// The signatures, last seen first. more: a next page exists.
std::string SignatureListPage(const std::vector<SignatureSummary>& rows, std::int64_t totalReports, int offset,
                              bool more);
// One signature and a page of its reports, newest first.
std::string SignaturePage(const SignatureSummary& signature, const std::vector<StoredReport>& reports, int offset,
                          bool more);
// One report: its fields and its whole log.
std::string ReportPage(const StoredReport& report);
// A short page with one sentence, for errors.
std::string MessagePage(const std::string& title, const std::string& text);

}  // namespace ulr
