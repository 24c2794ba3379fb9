// Upload of the client's crash logs to the report server.
#pragma once

#include <cstddef>

// Posts every "*_exception.log" of the "Log" folder beside the updater to
// the report server, one request per log, and deletes each log once it is
// answered with anything but 5xx. A log over 1 MB is deleted unsent. The
// pass stops at the first post without an answer or answered 5xx, keeps
// that log for the next start and shows nothing.
void UploadCrashReports();

// What PostForm gives when the post did not go out or got no answer.
constexpr int kNoAnswer = -1;

// One form post over WinINet to host, port 80: the answer's status, or
// kNoAnswer.
int PostForm(const char* host, const char* path, const char* body, std::size_t length);
