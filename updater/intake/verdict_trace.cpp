#include "intake/verdict_trace.h"

#include "common/trace.h"

void TraceUpdateWords(const std::vector<UpdateWord>& words) {
  for (const UpdateWord& w : words) {
    if (w.refused) {
      DebugTrace("Refused update entry : %s", w.text.c_str());
      continue;
    }
    if (w.marker == kMarkerSelfUpdate) DebugTrace("SelfUpdate");
    if (w.marker == kMarkerMajorUpdate) DebugTrace("MajorUpdate");
    DebugTrace("InsertFileList : %s\n", w.text.c_str());
  }
}

void TraceUpdateListVerdict(UpdateListVerdict verdict, const char* localName) {
  if (verdict == kListEmpty) DebugTrace("[%s] file Read failed..", localName);
  if (verdict == kListNotAList) DebugTrace("Update List file is invalid file..");
}

void TraceRefusedHashLines(const std::vector<std::string>& lines) {
  for (const std::string& line : lines) DebugTrace("Refused hash entry : %s", line.c_str());
}

void TraceReleaseCheck(const std::string& why) { DebugTrace("Release check: %s", why.c_str()); }
