#include "tree/served_tree.h"

#include <sys/stat.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "formats/base/bounded.h"
#include "formats/base/safe_path.h"
#include "formats/base/text_line.h"
#include "formats/lists/hash_list.h"
#include "formats/trust/release_manifest.h"
#include "formats/lists/program_config.h"

namespace ulp {

void LocalCopy::Set(const std::string& path, bool temporary) {
  Clear();
  path_ = path;
  temporary_ = temporary;
}

void LocalCopy::Clear() {
  if (temporary_ && !path_.empty()) std::remove(path_.c_str());
  path_.clear();
  temporary_ = false;
}

ServedTree::ServedTree() = default;

ServedTree::~ServedTree() {
  if (!temp_.empty()) RemoveTempFolder(temp_);
}

namespace {

const char kScheme[] = "http://";

// Between the tree's folder and a file in the report: the system's own.
#ifdef _WIN32
const char kSeparator[] = "\\";
#else
const char kSeparator[] = "/";
#endif

bool IsFolder(const std::string& path) {
  struct stat st;
  return stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

// "HOST[:PORT]" followed by nothing or "/". False, with why, otherwise.
bool ParseAddress(const std::string& rest, std::string* host, int* port, std::string* why) {
  std::size_t slash = rest.find('/');
  if (slash != std::string::npos && slash + 1 != rest.size()) {
    *why = "the tree must be served at the server's root: give http://HOST[:PORT]/ only";
    return false;
  }
  std::string hostPort = rest.substr(0, slash);
  std::size_t colon = hostPort.rfind(':');
  *host = hostPort.substr(0, colon);
  *port = 80;
  if (colon != std::string::npos) {
    const std::string digits = hostPort.substr(colon + 1);
    char* end = nullptr;
    long p = std::strtol(digits.c_str(), &end, 10);
    if (digits.empty() || *end != '\0' || p < 1 || p > 65535) {
      *why = "'" + digits + "' is no port number";
      return false;
    }
    *port = static_cast<int>(p);
  }
  if (host->empty()) {
    *why = "no host in the address";
    return false;
  }
  return true;
}

int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

std::string PercentDecoded(const std::string& target) {
  std::string out;
  for (std::size_t i = 0; i < target.size() && target[i] != '?'; ++i) {
    if (target[i] == '%' && i + 2 < target.size() && HexValue(target[i + 1]) >= 0 &&
        HexValue(target[i + 2]) >= 0) {
      out += static_cast<char>(HexValue(target[i + 1]) * 16 + HexValue(target[i + 2]));
      i += 2;
    } else {
      out += target[i];
    }
  }
  return out;
}

}  // namespace

int ServedTree::Open(const std::string& where, std::string* why) {
  if (where.compare(0, sizeof kScheme - 1, kScheme) == 0) {
    if (!ParseAddress(where.substr(sizeof kScheme - 1), &host_, &port_, why)) return kBadAddress;
    served_ = true;
    if (TempPath().empty()) {
      *why = "no temporary folder for the fetched files";
      return kNoTree;
    }
    fetcher_.reset(new HttpFetcher(host_, port_));
    return kOpened;
  }
  if (where.find("://") != std::string::npos) {
    *why = "only http:// addresses are served trees";
    return kBadAddress;
  }
  // Without its last separators (a folder named with one does not stat on
  // Windows), but never down to a drive's bare name.
  folder_ = where;
  while (folder_.size() > 1 && (folder_.back() == '/' || folder_.back() == '\\') &&
         folder_[folder_.size() - 2] != ':')
    folder_.pop_back();
  if (!IsFolder(folder_)) {
    *why = "no such folder";
    return kNoTree;
  }
  return kOpened;
}

std::string ServedTree::TempPath() {
  if (temp_.empty() && !MakeTempFolder(&temp_)) return "";
  return temp_ + "/" + std::to_string(++tempCount_);
}

std::string ServedTree::Name() const {
  if (!served_) return folder_;
  return kScheme + host_ + (port_ == 80 ? "" : ":" + std::to_string(port_)) + "/";
}

std::string ServedTree::Where(const std::string& objectPath) const {
  const std::string target = RequestTarget(objectPath);
  std::string relative;
  if (served_ || !ServedFileName(target, &relative)) return ForDisplay(target);
  for (char& c : relative) {
    if (c == '/') c = kSeparator[0];
  }
  return folder_ + kSeparator + ForDisplay(relative);
}

FetchOutcome ServedTree::Fetch(const std::string& objectPath, LocalCopy* copy,
                               unsigned long long maxBytes) {
  copy->Clear();
  if (!served_) return FetchFromFolder(objectPath, copy);
  if (maxBytes == 0) {
    std::string normal;
    auto record = ul::NormalServerPath(objectPath.c_str(), &normal) ? recorded_.find(normal)
                                                                    : recorded_.end();
    maxBytes = record != recorded_.end() ? record->second + kRecordMargin : kUnrecordedLimit;
  }
  return FetchServed(objectPath, copy, maxBytes);
}

void ServedTree::Bound(const ul::ReleaseManifest& release) {
  for (const ul::ReleaseFile& f : release.files) recorded_[f.path] = f.size;
}

std::string RunsPast(unsigned long long maxBytes) {
  return "the body runs past " + std::to_string(maxBytes) + " bytes, more than the release " +
         "records (or the updater reads), and was not stored further";
}

FetchOutcome ServedTree::FetchServed(const std::string& objectPath, LocalCopy* copy,
                                     unsigned long long maxBytes) {
  const std::string local = TempPath();
  copy->Set(local, true);
  FetchOutcome o = fetcher_->Get(RequestTarget(objectPath), local, maxBytes);
  if (o.status != kFetched) copy->Clear();
  return o;
}

FetchOutcome ServedTree::FetchFromFolder(const std::string& objectPath, LocalCopy* copy) const {
  std::string relative;
  if (!ServedFileName(RequestTarget(objectPath), &relative))
    return {kMissing, "the address climbs above the tree's root"};
  const std::string path = folder_ + "/" + relative;
  struct stat st;
  if (stat(path.c_str(), &st) != 0) return {kMissing, "no such file"};
  if (!S_ISREG(st.st_mode)) return {kMissing, "not a file"};
  std::FILE* f = std::fopen(path.c_str(), "rb");
  if (f == nullptr) return {kBroken, std::string("cannot read: ") + std::strerror(errno)};
  std::fclose(f);
  copy->Set(path, false);
  return {kFetched, ""};
}

std::string RequestTarget(const std::string& objectPath) {
  return !objectPath.empty() && objectPath[0] == '/' ? objectPath : "/" + objectPath;
}

bool ServedFileName(const std::string& target, std::string* relative) {
  const std::string decoded = PercentDecoded(target);
  std::vector<std::string> segments;
  std::string segment;
  for (std::size_t i = 0; i <= decoded.size(); ++i) {
    const char c = i < decoded.size() ? decoded[i] : '/';
    if (c == '\0') return false;
    if (c != '/' && c != '\\') {
      segment += c;
      continue;
    }
    if (segment == "..") {
      if (segments.empty()) return false;
      segments.pop_back();
    } else if (!segment.empty() && segment != ".") {
      segments.push_back(segment);
    }
    segment.clear();
  }
  relative->clear();
  for (const std::string& s : segments) *relative += (relative->empty() ? "" : "/") + s;
  return true;
}

std::string EntryObjectPath(const ProgramConfig& config, const char* entry) {
  char path[ul::kTextCap];
  ul::Format(path, "%s%s", config.updateSubPath, entry);
  return path;
}

bool HashObjectPath(const ProgramConfig& config, const char* clientFolder, const HashEntry& entry,
                    std::string* objectPath, std::string* localPath) {
  char joined[ul::kTextCap];
  HashEntryName(entry, joined);
  char local[ul::kPathCap];
  std::size_t folderLength = 0;
  if (!ul::ResolveInsideFolder(clientFolder, joined, local, &folderLength)) return false;
  char path[ul::kTextCap];
  RedownloadPath(config.updateSubPath, local + folderLength, path);
  *objectPath = path;
  *localPath = local;
  return true;
}

bool ReadPieces(const std::string& path, std::vector<TextPiece>* pieces) {
  std::FILE* f = std::fopen(path.c_str(), "rt");
  if (f == nullptr) return false;
  char buf[ul::kLineCap];
  int line = 0;
  bool lineOpen = false;  // the last piece ended without a line feed
  std::size_t lineStart = pieces->size();
  while (ul::ReadTextLine(f, buf)) {
    TextPiece piece;
    piece.text = buf;
    const bool ended = !piece.text.empty() && piece.text.back() == '\n';
    if (ended) piece.text.pop_back();
    piece.first = !lineOpen;
    if (piece.first) {
      ++line;
      lineStart = pieces->size();
    }
    piece.line = line;
    pieces->push_back(piece);
    std::size_t length = 0;
    for (std::size_t i = lineStart; i < pieces->size(); ++i) length += (*pieces)[i].text.size();
    for (std::size_t i = lineStart; i < pieces->size(); ++i) (*pieces)[i].lineLength = length;
    lineOpen = !ended;
  }
  std::fclose(f);
  return true;
}

NamedFile& TreeIndex::Add(const std::string& objectPath, const std::string& namedBy) {
  auto it = byPath_.find(objectPath);
  if (it == byPath_.end()) {
    it = byPath_.emplace(objectPath, files_.size()).first;
    files_.push_back(NamedFile());
    files_.back().objectPath = objectPath;
  }
  NamedFile& file = files_[it->second];
  if (file.namedBy.empty() || file.namedBy.back() != namedBy) file.namedBy.push_back(namedBy);
  return file;
}

}  // namespace ulp
