#include "net/paced_read_win.h"

#include <cstring>

#include "common/pause.h"

bool PacedReader::Next(HINTERNET request, char* buffer, DWORD want, DWORD* got) const {
  if (want > size_) want = size_;
  *got = 0;
  if (size_ > kDefaultReadBytes) {
    const bool ok = InternetReadFile(request, buffer, want, got) != FALSE;
    ul::PauseOneMillisecond();
    return ok;
  }
  INTERNET_BUFFERSA record;
  std::memset(&record, 0, sizeof record);
  record.dwStructSize = sizeof record;
  for (;;) {
    record.lpvBuffer = buffer;
    record.dwBufferLength = want;
    if (!InternetReadFileExA(request, &record, IRF_NO_WAIT, 0)) return false;
    ul::PauseOneMillisecond();
    *got = record.dwBufferLength;
    if (*got > 0) return true;
    // No data at this moment is not the end while the connection has more
    // to come; this waits for it and says 0 at the real end (a connection
    // that closed says 0 too: only the length asked for tells them apart).
    DWORD available = 0;
    if (!InternetQueryDataAvailable(request, &available, 0, 0) || available == 0) return true;
  }
}
