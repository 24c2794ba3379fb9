// Upload of the client's crash logs to the report server.
#pragma once

#include <cstddef>

// Posts every "*_exception.log" of the "Log" folder beside the updater to
// the report server, one request per log, and deletes each log once sent.
// A log over 1 MB is deleted unsent. The pass stops at the first failure
// and shows nothing.
void UploadCrashReports();

// One form post over WinINet to host, port 80. True when the request was
// sent; the server's answer is not read, so an error status still counts.
bool PostForm(const char* host, const char* path, const char* body, std::size_t length);
