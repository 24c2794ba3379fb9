#include "formats/lists/directory_file.h"

#include "formats/base/text_line.h"

namespace {

// Reads the next line that is not a comment. False at the end of the file.
bool ReadDataLine(std::FILE* file, char (&line)[ul::kLineCap]) {
  while (ul::ReadTextLine(file, line)) {
    if (line[0] != ';') return true;
  }
  return false;
}

}  // namespace

bool ParseDirectoryFile(std::FILE* file, DirectoryRecord* record) {
  char line[ul::kLineCap];
  for (;;) {
    // Id line. The end of the file here ends the reading normally.
    if (!ReadDataLine(file, line)) return true;
    const bool selected = ul::ParseDecimal(line) == kInstanceNumber;

    // Host line.
    if (!ReadDataLine(file, line)) return false;
    if (selected) {
      ul::StripNewline(line);
      ul::Copy(record->serverHost, line);
    }

    // Port line.
    if (!ReadDataLine(file, line)) return false;
    if (selected) record->serverPort = ul::ParseDecimal(line);

    // Path line. In a skipped record whatever line comes here is taken as
    // its path line, even a comment, and the end of the file is no failure.
    if (!selected) {
      if (!ul::ReadTextLine(file, line)) return true;
      continue;
    }
    if (!ReadDataLine(file, line)) return false;
    ul::StripNewline(line);
    ul::Copy(record->programConfigPath, line);
    return true;
  }
}
