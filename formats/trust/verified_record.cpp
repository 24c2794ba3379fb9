#include "formats/trust/verified_record.h"

#include <cstring>
#include <vector>

#include "formats/base/text_line.h"
#include "formats/trust/md5.h"

namespace ul {

namespace {

// A word of the record that is a whole number and nothing else.
bool ParseNumberText(const std::string& text, uint64_t* out) {
  return text.find('\0') == std::string::npos && ParseWholeNumber(text.c_str(), out);
}

const char kHeader[] = "ULVERIFIED 1";
const std::size_t kLineMax = 2048;
const std::size_t kEntriesMax = 1000000;

// Splits line at its first count blanks: count words and the rest (which
// may hold blanks). False when there are fewer words or the rest is empty.
bool SplitWords(const std::string& line, std::size_t count, std::vector<std::string>* words,
                std::string* rest) {
  std::size_t at = 0;
  words->clear();
  for (std::size_t i = 0; i < count; ++i) {
    const std::size_t blank = line.find(' ', at);
    if (blank == std::string::npos || blank == at) return false;
    words->push_back(line.substr(at, blank - at));
    at = blank + 1;
  }
  *rest = line.substr(at);
  return !rest->empty();
}

bool IsDigestText(const std::string& s) { return s.size() == 32 && IsDigestHex(s.c_str()); }

// A path the record can hold: below the folder, on one line.
bool Storable(const std::string& path, const std::string& folder) {
  return path.size() > folder.size() && path.compare(0, folder.size(), folder) == 0 &&
         path.find_first_of("\r\n") == std::string::npos && path.find('\0') == std::string::npos &&
         path.size() < kLineMax;
}

}  // namespace

const char* VerdictName(Verdict v) {
  switch (v) {
    case Verdict::kVouched: return "vouched";
    case Verdict::kNoRecord: return "no record";
    case Verdict::kDigest: return "expected digest changed";
    case Verdict::kFacts: return "size, time or identity changed";
    case Verdict::kRecent: return "written since it was looked at";
    case Verdict::kDue: return "its turn to be read again";
  }
  return "?";
}

VerifiedRecord::VerifiedRecord(const std::string& clientFolder, int days, bool rolling)
    : folder_(clientFolder), days_(days), rolling_(rolling) {}

void VerifiedRecord::StartAfresh(uint64_t now) {
  entries_.clear();
  fullPassAt_ = now;
  writtenAt_ = 0;
  changed_ = true;
}

VerifiedRecord::Refusal VerifiedRecord::Adopt(const std::string& text, uint64_t now) {
  StartAfresh(now);
  // The check line closes the text; it covers every byte before it.
  const std::size_t checkAt = text.rfind("check ");
  if (checkAt == std::string::npos || (checkAt > 0 && text[checkAt - 1] != '\n') ||
      text.size() != checkAt + 6 + 32 + 1 || text.back() != '\n')
    return Refusal::kDamaged;
  char digest[33];
  if (!DigestBuffer(text.data(), checkAt, digest)) return Refusal::kDamaged;
  if (text.compare(checkAt + 6, 32, digest) != 0) return Refusal::kDamaged;

  const std::string body = text.substr(0, checkAt);
  std::vector<std::string> lines;
  for (std::size_t at = 0; at < body.size();) {
    const std::size_t end = body.find('\n', at);
    if (end == std::string::npos || end - at > kLineMax) return Refusal::kDamaged;
    lines.push_back(body.substr(at, end - at));
    at = end + 1;
  }
  uint64_t full = 0, written = 0;
  if (lines.size() < 4 || lines[0] != kHeader || lines[1].compare(0, 7, "folder ") != 0 ||
      lines[2].compare(0, 5, "full ") != 0 || !ParseNumberText(lines[2].substr(5), &full) ||
      lines[3].compare(0, 8, "written ") != 0 || !ParseNumberText(lines[3].substr(8), &written))
    return Refusal::kDamaged;
  if (lines[1].substr(7) != folder_) return Refusal::kOtherFolder;
  // A full pass from the future means a clock that went back: a doubt too.
  const uint64_t stale = static_cast<uint64_t>(days_) * kFileTimeDay;
  if (days_ <= 0 || now < full || (!rolling_ && now - full >= stale)) return Refusal::kExpired;

  std::map<std::string, Entry> entries;
  Entry* last = nullptr;  // a part line belongs to the file line before it
  for (std::size_t i = 4; i < lines.size(); ++i) {
    if (lines[i].compare(0, 5, "part ") == 0) {
      if (last == nullptr || last->part.bytes != 0 || !ParsePart(lines[i], last)) return Refusal::kDamaged;
      continue;
    }
    std::string path;
    Entry e;
    if (!ParseFile(lines[i], &e, &path) || !Storable(path, folder_) || entries.size() >= kEntriesMax)
      return Refusal::kDamaged;
    const auto placed = entries.emplace(path, e);
    if (!placed.second) return Refusal::kDamaged;
    last = &placed.first->second;
  }
  entries_.swap(entries);
  fullPassAt_ = full;
  writtenAt_ = written;
  changed_ = false;
  return Refusal::kNone;
}

bool VerifiedRecord::ParseFile(const std::string& line, Entry* e, std::string* path) {
  std::vector<std::string> w;
  uint64_t volume = 0;
  if (!SplitWords(line, 7, &w, path) || w[0] != "file" || !ParseNumberText(w[1], &e->facts.size) ||
      !ParseNumberText(w[2], &e->facts.lastWrite) || !ParseNumberText(w[3], &volume) || volume > UINT32_MAX ||
      !ParseNumberText(w[4], &e->facts.index) || !ParseNumberText(w[5], &e->lookedAt) || !IsDigestText(w[6]))
    return false;
  e->facts.volume = static_cast<uint32_t>(volume);
  std::memcpy(e->digest, w[6].data(), 32);
  return true;
}

// "part BYTES BEGUN STATE": a read of the file begun after its last whole
// one and after its last write, paused at a chunk boundary inside it.
bool VerifiedRecord::ParsePart(const std::string& line, Entry* e) {
  std::vector<std::string> w;
  std::string state;
  DigestProgress part;
  uint64_t begunAt = 0;
  if (!SplitWords(line, 3, &w, &state) || !ParseNumberText(w[1], &part.bytes) ||
      !ParseNumberText(w[2], &begunAt) || !IsDigestText(state))
    return false;
  std::memcpy(part.state, state.data(), 32);
  if (!PartFits(*e, part, begunAt)) return false;
  e->part = part;
  e->partBegunAt = begunAt;
  return true;
}

bool VerifiedRecord::PartFits(const Entry& e, const DigestProgress& part, uint64_t begunAt) {
  return part.bytes > 0 && part.bytes % ChainedDigest::kChunkSize == 0 && part.bytes < e.facts.size &&
         IsDigestHex(part.state) && begunAt > e.lookedAt && begunAt > e.facts.lastWrite;
}

Verdict VerifiedRecord::Check(const std::string& path, const char* expectedDigest, const FileFacts& now) const {
  auto it = entries_.find(path);
  if (it == entries_.end()) return Verdict::kNoRecord;
  const Entry& e = it->second;
  e.seen = true;
  if (expectedDigest == nullptr || std::strncmp(e.digest, expectedDigest, 32) != 0) return Verdict::kDigest;
  if (e.facts != now) return Verdict::kFacts;
  if (e.due) return Verdict::kDue;
  if (Racy(e)) return Verdict::kRecent;
  return Verdict::kVouched;
}

// A file written in the same tick as the look may have changed without its
// time showing it; so may one written after the adopted record file was, for
// an entry that file holds. An entry looked at during this run, after its
// file's last write (a file read, or made and digested as it was written),
// is not held to the old file's time: else every file a run makes would be
// read again at once.
bool VerifiedRecord::Racy(const Entry& e) const {
  if (e.facts.lastWrite >= e.lookedAt) return true;
  return !e.lookedThisRun && writtenAt_ != 0 && e.facts.lastWrite >= writtenAt_;
}

bool VerifiedRecord::Unchanged(const std::string& path, const FileFacts& now, char (&digest)[33]) const {
  auto it = entries_.find(path);
  if (it == entries_.end()) return false;
  const Entry& e = it->second;
  if (e.facts != now || Racy(e)) return false;
  std::memcpy(digest, e.digest, 32);
  digest[32] = '\0';
  return true;
}

void VerifiedRecord::Matched(const std::string& path, const char* digest, const FileFacts& facts,
                             uint64_t lookedAt) {
  if (digest == nullptr || !IsDigestText(std::string(digest, strnlen(digest, 32))) ||
      !Storable(path, folder_) || facts.lastWrite >= lookedAt) {
    Forget(path);
    return;
  }
  Entry e;
  e.facts = facts;
  e.lookedAt = lookedAt;
  e.lookedThisRun = true;
  std::memcpy(e.digest, digest, 32);
  e.seen = true;
  entries_[path] = e;
  changed_ = true;
}

void VerifiedRecord::MarkDue(uint64_t now) {
  if (!rolling_) return;
  const uint64_t span = static_cast<uint64_t>(days_) * kFileTimeDay;
  for (auto& p : entries_) p.second.due = p.second.lookedAt > now || now - p.second.lookedAt >= span;
}

bool VerifiedRecord::Progress(const std::string& path, const FileFacts& now, DigestProgress* progress,
                              uint64_t* begunAt) const {
  auto it = entries_.find(path);
  if (it == entries_.end()) return false;
  const Entry& e = it->second;
  if (e.part.bytes == 0 || e.facts != now || Racy(e)) return false;
  *progress = e.part;
  *begunAt = e.partBegunAt;
  return true;
}

void VerifiedRecord::Paused(const std::string& path, const DigestProgress& progress, uint64_t begunAt) {
  auto it = entries_.find(path);
  if (it == entries_.end() || !PartFits(it->second, progress, begunAt)) return;
  it->second.part = progress;
  it->second.partBegunAt = begunAt;
  changed_ = true;
}

uint64_t VerifiedRecord::LookedAt(const std::string& path) const {
  auto it = entries_.find(path);
  return it == entries_.end() ? 0 : it->second.lookedAt;
}

uint64_t ReadCostOf(uint64_t size) {
  const uint64_t chunk = ChainedDigest::kChunkSize;
  return (size / chunk + (size % chunk != 0 ? 1 : 0)) * chunk + kFileReadCost;
}

uint64_t VerifiedRecord::Cost() const {
  uint64_t total = 0;
  for (const auto& p : entries_) total += ReadCostOf(p.second.facts.size);
  return total;
}

uint64_t DailyShareOf(uint64_t cost, uint64_t biggest, int days) {
  const uint64_t spread = days > 1 ? static_cast<uint64_t>(days - 1) : 1;
  return (cost + biggest + spread - 1) / spread;
}

uint64_t VerifiedRecord::DailyShare() const {
  uint64_t biggest = 0;
  for (const auto& p : entries_) biggest = p.second.facts.size > biggest ? p.second.facts.size : biggest;
  return DailyShareOf(Cost(), ReadCostOf(biggest), days_);
}

int VerifiedRecord::HoursSinceWritten(uint64_t now) const {
  const uint64_t hour = kFileTimeDay / 24;
  if (writtenAt_ == 0 || now < writtenAt_ || now - writtenAt_ >= kFileTimeDay) return 24;
  return static_cast<int>((now - writtenAt_) / hour);
}

void VerifiedRecord::Forget(const std::string& path) {
  if (entries_.erase(path) > 0) changed_ = true;
}

void VerifiedRecord::DropUnseen() {
  for (auto it = entries_.begin(); it != entries_.end();) {
    if (it->second.seen) {
      ++it;
    } else {
      it = entries_.erase(it);
      changed_ = true;
    }
  }
}

std::string VerifiedRecord::Text(uint64_t writtenAt) const {
  std::string text = std::string(kHeader) + "\nfolder " + folder_ + "\nfull " + std::to_string(fullPassAt_) +
                     "\nwritten " + std::to_string(writtenAt) + "\n";
  for (const auto& p : entries_) {
    const Entry& e = p.second;
    text += "file " + std::to_string(e.facts.size) + " " + std::to_string(e.facts.lastWrite) + " " +
            std::to_string(e.facts.volume) + " " + std::to_string(e.facts.index) + " " +
            std::to_string(e.lookedAt) + " " + std::string(e.digest, 32) + " " + p.first + "\n";
    if (e.part.bytes != 0)
      text += "part " + std::to_string(e.part.bytes) + " " + std::to_string(e.partBegunAt) + " " +
              std::string(e.part.state, 32) + "\n";
  }
  // Where the system cannot digest, the check is empty: every reader
  // refuses such a record as damaged, which means one full pass.
  char digest[33];
  DigestBuffer(text.data(), text.size(), digest);
  return text + "check " + digest + "\n";
}

}  // namespace ul
