// Replays reader inputs (fuzz seeds and corpora) through the file readers,
// opened the way the updater opens them (text mode), and prints what each
// reader read, one line per entry. Built natively and for Windows; the
// replay test compares the two outputs, so that the Windows runtime's own
// text-mode reading (CR LF, Ctrl-Z) is seen to give the same entries.
//
// Usage: ul_replay LIST OUTPUT
//   LIST: one "<reader> <path>" per line; OUTPUT is written byte for byte.
// An input holds what the reader's fuzz target gets: for program_config a
// first byte (bit 0: Vista), for update_list two bytes (installed version),
// then the file. The file part is written to a scratch file and opened
// with "rt" like a fetched file.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "formats/lists/directory_file.h"
#include "formats/lists/hash_list.h"
#include "formats/lists/program_config.h"
#include "formats/lists/update_list.h"
#include "crash/crash_log.h"

// The readers trace; the replay prints entries, not traces.
void DebugTrace(const char*, ...) {}

namespace {

std::string out;

void Line(const std::string& label, const std::string& value) {
  static const char kHex[] = "0123456789abcdef";
  out += label + " \"";
  for (unsigned char c : value) {
    if (c >= 0x20 && c < 0x7f && c != '\\' && c != '"') {
      out += static_cast<char>(c);
    } else {
      out += "\\x";
      out += kHex[c >> 4];
      out += kHex[c & 15];
    }
  }
  out += "\"\n";
}

void Line(const std::string& label, long long value) {
  out += label + " " + std::to_string(value) + "\n";
}

bool ReadAll(const std::string& path, std::string* bytes) {
  std::FILE* f = std::fopen(path.c_str(), "rb");
  if (f == nullptr) return false;
  char buf[4096];
  std::size_t n;
  while ((n = std::fread(buf, 1, sizeof buf, f)) > 0) bytes->append(buf, n);
  std::fclose(f);
  return true;
}

bool WriteAll(const std::string& path, const std::string& bytes) {
  std::FILE* f = std::fopen(path.c_str(), "wb");
  if (f == nullptr) return false;
  const bool ok = std::fwrite(bytes.data(), 1, bytes.size(), f) == bytes.size();
  return std::fclose(f) == 0 && ok;
}

bool KeyNamesClient(const char* path, const char*, int) {
  return std::strstr(path, "Ulmet") != nullptr;
}

// Runs one reader over the file at path (the part after any control bytes).
void Replay(const std::string& reader, const std::string& path, const std::string& control) {
  if (reader == "directory_file" || reader == "program_config" || reader == "update_list" ||
      reader == "hash_list") {
    std::FILE* f = std::fopen(path.c_str(), "rt");
    if (f == nullptr) {
      Line("error", "cannot open");
      return;
    }
    if (reader == "directory_file") {
      DirectoryRecord config;
      Line("result", ParseDirectoryFile(f, &config));
      Line("host", config.serverHost);
      Line("port", config.serverPort);
      Line("path", config.programConfigPath);
    } else if (reader == "program_config") {
      ProgramConfig config;
      const bool isVista = !control.empty() && (control[0] & 1) != 0;
      Line("result", ParseProgramConfig(f, isVista, &KeyNamesClient, &config));
      Line("updateSubPath", config.updateSubPath);
      Line("updateListPath", config.updateListPath);
      Line("checkupMode", config.checkupMode);
      Line("checkupNotice", config.checkupNotice);
      Line("registryHive", config.registryHive);
      Line("registryPath", config.registryPath);
      Line("registryNewPath", config.registryNewPath);
      Line("clientRegistryKey", config.clientRegistryKey);
      Line("updaterPathValueName", config.updaterPathValueName);
      Line("crashReportEnabled", config.crashReportEnabled);
      Line("crashReportHost", config.crashReportHost);
      Line("crashReportPath", config.crashReportPath);
      Line("installerPath", config.installerPath);
      Line("hashListPath", config.hashListPath);
      Line("chunkListPath", config.chunkListPath);
    } else if (reader == "update_list") {
      const unsigned char hi = control.size() > 0 ? static_cast<unsigned char>(control[0]) : 0;
      const unsigned char lo = control.size() > 1 ? static_cast<unsigned char>(control[1]) : 0;
      UpdateFileList list;
      std::vector<UpdateWord> words;
      Line("result", list.ReadListFile(f, (hi << 8 | lo) % 12000, &words) == kListRead);
      Line("maxVersion", list.maxVersion);
      Line("selfUpdate", list.selfUpdateMarked);
      Line("majorUpdate", list.majorUpdateMarked);
      for (int i = 0; i < list.entryCount; ++i) Line("entry", list.EntryAt(i));
    } else {
      HashList read;
      Line("result", ParseHashList(f, &read));
      for (const HashEntry& e : read.entries) {
        Line("entry", std::string(e.fileName) + "|" + std::to_string(e.entryNumber) + "|" +
                          e.digestHex + "|" + e.subPath);
      }
    }
    std::fclose(f);
  } else if (reader == "crash_log") {
    CrashLogFields fields;
    ParseCrashLog(path.c_str(), fields);  // opens the file itself, in text mode
    Line("ver", fields.ver);
    Line("fadd", fields.fadd);
    Line("fmod", fields.fmod);
    Line("ladd", fields.ladd);
    Line("lmod", fields.lmod);
  } else {
    Line("error", "unknown reader");
  }
}

std::size_t ControlBytes(const std::string& reader) {
  if (reader == "program_config") return 1;
  if (reader == "update_list") return 2;
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: ul_replay LIST OUTPUT\n");
    return 2;
  }
  std::string list;
  if (!ReadAll(argv[1], &list)) {
    std::fprintf(stderr, "ul_replay: cannot read %s\n", argv[1]);
    return 2;
  }
  const std::string scratch = std::string(argv[2]) + ".input";
  std::size_t start = 0;
  while (start < list.size()) {
    std::size_t end = list.find('\n', start);
    if (end == std::string::npos) end = list.size();
    std::string line = list.substr(start, end - start);
    start = end + 1;
    if (!line.empty() && line.back() == '\r') line.pop_back();
    const std::size_t blank = line.find(' ');
    if (blank == std::string::npos) continue;
    const std::string reader = line.substr(0, blank);
    const std::string path = line.substr(blank + 1);
    const std::size_t slash = path.find_last_of("/\\");
    out += "== " + reader + " " + path.substr(slash == std::string::npos ? 0 : slash + 1) + "\n";
    std::string bytes;
    if (!ReadAll(path, &bytes)) {
      Line("error", "cannot read");
      continue;
    }
    const std::size_t skip =
        ControlBytes(reader) < bytes.size() ? ControlBytes(reader) : bytes.size();
    if (!WriteAll(scratch, bytes.substr(skip))) {
      Line("error", "cannot write scratch file");
      continue;
    }
    Replay(reader, scratch, bytes.substr(0, skip));
  }
  std::remove(scratch.c_str());
  if (!WriteAll(argv[2], out)) {
    std::fprintf(stderr, "ul_replay: cannot write %s\n", argv[2]);
    return 2;
  }
  return 0;
}
