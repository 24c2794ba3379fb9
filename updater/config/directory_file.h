// Reader of the directory file: the small record file on the configuration
// server that says which host and path serve the program configuration file.
//
// No Windows headers here: this builds natively for the sanitizer runs. The
// download and the temporary file belong to UpdateConfig::ReadDirectoryFile.
#pragma once

#include <cstdio>

class UpdateConfig;

// The record id of this system's instance.
constexpr int kInstanceNumber = 5001;
// Where the directory file lies on the configuration server, as requested.
constexpr char kDirectoryFilePath[] = "./UlLaunch/global_Ulmet.cfg";

// Reads records of four lines (id, host, port, program configuration path)
// from file, which the caller opened in text mode and closes. The first
// record with id 5001 fills config.serverHost, config.serverPort and
// config.programConfigPath. True when the run may go on: the file ended where
// an id line was due (no 5001 record is no failure), or the 5001 record was
// read whole. False when the file ends inside the 5001 record, or inside a
// skipped record before its port line.
bool ParseDirectoryFile(std::FILE* file, UpdateConfig& config);
