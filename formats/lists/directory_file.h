// Reader of the directory file: the small record file on the configuration
// server that says which host and path serve the program configuration file.
//
// No Windows headers here: this builds natively for the sanitizer runs.
#pragma once

#include <cstdint>
#include <cstdio>

#include "formats/base/bounded.h"

// The record id of this system's instance.
constexpr int kInstanceNumber = 5001;
// Where the directory file lies on the configuration server, as requested.
constexpr char kDirectoryFilePath[] = "./UlLaunch/global_Ulmet.cfg";

// What record 5001 says.
struct DirectoryRecord {
  char serverHost[ul::kTextCap] = {0};
  int32_t serverPort = 80;
  char programConfigPath[ul::kTextCap] = {0};
};

// Reads records of four lines (id, host, port, program configuration path)
// from file, which the caller opened in text mode and closes. The first
// record with id 5001 fills record, field by field as its lines come. True
// when the run may go on: the file ended where an id line was due (no 5001
// record is no failure), or the 5001 record was read whole. False when the
// file ends inside the 5001 record, or inside a skipped record before its
// port line; record then keeps what was read of it.
bool ParseDirectoryFile(std::FILE* file, DirectoryRecord* record);
