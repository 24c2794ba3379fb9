// Zip extraction of real archives, written here by a minimal zip writer
// (stored or deflated entries, one central directory, no extras).
#include <windows.h>

#include <gtest/gtest.h>
#include <zlib.h>

#include <string>
#include <utility>
#include <vector>

#include "file_support.h"
#include "files/zip_extractor_win.h"

namespace {

using filesupport::Exists;
using filesupport::IsFolder;
using filesupport::ReadBytes;
using filesupport::ScopedFolder;
using filesupport::WriteBytes;

struct Entry {
  Entry(std::string n, std::string d, bool defl = false, std::string raw = std::string())
      : name(std::move(n)), data(std::move(d)), deflate(defl), rawDeflate(std::move(raw)) {}
  std::string name;
  std::string data;
  bool deflate;
  std::string rawDeflate;  // when set: these bytes stand as the compressed data
  bool badCrc = false;
  uint32_t dosDateTime = 0x52642883;  // 2021-03-04 05:04:06 local time
};

void Put16(std::string& s, uint32_t v) { s.append({char(v & 0xFF), char((v >> 8) & 0xFF)}); }
void Put32(std::string& s, uint32_t v) { Put16(s, v & 0xFFFF), Put16(s, v >> 16); }

std::string RawDeflate(const std::string& data) {
  z_stream z = {};
  deflateInit2(&z, Z_BEST_COMPRESSION, Z_DEFLATED, -15, 8, Z_DEFAULT_STRATEGY);
  std::string out(deflateBound(&z, data.size()), '\0');
  z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(data.data()));
  z.avail_in = static_cast<uInt>(data.size());
  z.next_out = reinterpret_cast<Bytef*>(&out[0]);
  z.avail_out = static_cast<uInt>(out.size());
  deflate(&z, Z_FINISH);
  out.resize(z.total_out);
  deflateEnd(&z);
  return out;
}

std::string BuildZip(const std::vector<Entry>& entries) {
  std::string body, central;
  for (const Entry& e : entries) {
    const bool deflated = e.deflate || !e.rawDeflate.empty();
    std::string packed = !e.rawDeflate.empty() ? e.rawDeflate : e.deflate ? RawDeflate(e.data) : e.data;
    uint32_t crc = crc32(0, reinterpret_cast<const Bytef*>(e.data.data()), static_cast<uInt>(e.data.size()));
    if (e.badCrc) crc ^= 1;
    auto common = [&](std::string& s) {
      Put16(s, 20), Put16(s, 0), Put16(s, deflated ? 8 : 0);
      Put16(s, e.dosDateTime & 0xFFFF), Put16(s, e.dosDateTime >> 16);
      Put32(s, crc), Put32(s, static_cast<uint32_t>(packed.size())), Put32(s, static_cast<uint32_t>(e.data.size()));
      Put16(s, static_cast<uint32_t>(e.name.size())), Put16(s, 0);
    };
    const uint32_t offset = static_cast<uint32_t>(body.size());
    Put32(body, 0x04034b50), common(body);
    body += e.name + packed;
    Put32(central, 0x02014b50), Put16(central, 20), common(central);
    Put16(central, 0), Put16(central, 0), Put16(central, 0);
    Put32(central, e.name.empty() || e.name.back() != '/' ? 0 : 0x10), Put32(central, offset);
    central += e.name;
  }
  std::string zip = body + central;
  Put32(zip, 0x06054b50), Put16(zip, 0), Put16(zip, 0);
  Put16(zip, static_cast<uint32_t>(entries.size())), Put16(zip, static_cast<uint32_t>(entries.size()));
  Put32(zip, static_cast<uint32_t>(central.size())), Put32(zip, static_cast<uint32_t>(body.size())), Put16(zip, 0);
  return zip;
}

// Writes the archive into folder and unpacks it the way the updater does.
int Extract(const std::string& folder, const std::vector<Entry>& entries) {
  const std::string archive = folder + "\\pack.zip";
  if (!WriteBytes(archive, BuildZip(entries))) return -1;
  CZipExtractor zip(nullptr);
  if (!zip.OpenArchive(archive.c_str())) return -2;
  int result = zip.ExtractToOwnFolder(0);
  zip.CloseArchive();
  DeleteFileA(archive.c_str());
  return result;
}

TEST(ZipExtract, EntriesLandInTheirFoldersWithTheirLocalTimes) {
  ScopedFolder t("zip");
  const std::string big = filesupport::Pattern(100000, 7);
  ASSERT_TRUE(WriteBytes(t / "top.txt", "old contents"));
  ASSERT_EQ(Extract(t.path(), {{"top.txt", "stored text"},
                               {"data/", ""},
                               {"data/img/a.bmp", big, true}}),
            1);
  EXPECT_EQ(ReadBytes(t / "top.txt"), "stored text");  // replaced
  EXPECT_TRUE(filesupport::HasBytes(t / "data\\img\\a.bmp", big));

  HANDLE h = CreateFileA((t / "data\\img\\a.bmp").c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                         OPEN_EXISTING, 0, nullptr);
  ASSERT_NE(h, INVALID_HANDLE_VALUE);
  FILETIME created, written, local;
  GetFileTime(h, &created, nullptr, &written);
  CloseHandle(h);
  EXPECT_EQ(CompareFileTime(&created, &written), 0);
  SYSTEMTIME st;
  FileTimeToLocalFileTime(&written, &local);
  FileTimeToSystemTime(&local, &st);
  EXPECT_EQ(st.wYear, 2021);
  EXPECT_EQ(st.wMonth, 3);
  EXPECT_EQ(st.wDay, 4);
  EXPECT_EQ(st.wHour, 5);
  EXPECT_EQ(st.wMinute, 4);
  EXPECT_EQ(st.wSecond, 6);
}

TEST(ZipExtract, EmptyFolderOnlyAndOwnFolderRules) {
  ScopedFolder t("zipr");
  EXPECT_EQ(Extract(t.path(), {}), -2);  // no entries: minizip already refuses to open it
  EXPECT_EQ(Extract(t.path(), {{"only/", ""}, {"only/deeper/", ""}}), 1);
  EXPECT_FALSE(Exists(t / "only"));  // folders come only with files

  // An archive path without '\': its own folder is the archive itself.
  ASSERT_TRUE(WriteBytes(t / "rel.zip", BuildZip({{"x.txt", "x"}})));
  char cwd[MAX_PATH];
  GetCurrentDirectoryA(sizeof(cwd), cwd);
  SetCurrentDirectoryA(t.path().c_str());
  {
    CZipExtractor zip("rel.zip");
    EXPECT_STREQ(zip.OwnFolder(), "rel.zip");
    EXPECT_EQ(zip.ExtractToOwnFolder(0), 0);
  }
  SetCurrentDirectoryA(cwd);
  EXPECT_FALSE(Exists(t / "x.txt"));

  CZipExtractor none(nullptr);
  EXPECT_EQ(none.OpenArchive((t / "missing.zip").c_str()), 0);
  EXPECT_EQ(none.ExtractToOwnFolder(0), 0);
  EXPECT_EQ(none.CloseArchive(), 0);  // harmless with nothing open
}

TEST(ZipExtract, FailingEntryStopsAndKeepsWhatWasWritten) {
  ScopedFolder t("zipf");
  EXPECT_EQ(Extract(t.path(), {{"first.txt", "1"}, {"bad.bin", "xxxxxxxx", true, "\xff\xff\xff\xff"},
                               {"third.txt", "3"}}),
            0);
  EXPECT_EQ(ReadBytes(t / "first.txt"), "1");
  EXPECT_FALSE(Exists(t / "third.txt"));

  // Stored data whose CRC-32 does not match is damaged, not a success.
  Entry damaged{"crc.txt", "payload"};
  damaged.badCrc = true;
  EXPECT_EQ(Extract(t.path(), {damaged}), 0);

  ASSERT_TRUE(WriteBytes(t / "locked.txt", "keep"));
  HANDLE lock = CreateFileA((t / "locked.txt").c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
  ASSERT_NE(lock, INVALID_HANDLE_VALUE);
  EXPECT_EQ(Extract(t.path(), {{"locked.txt", "new"}}), 0);
  CloseHandle(lock);
  EXPECT_EQ(ReadBytes(t / "locked.txt"), "keep");
}

TEST(ZipExtract, HostileNamesFailAndWriteNothingOutside) {
  ScopedFolder outer("ziph");
  const std::string inner = outer / "in";
  ASSERT_TRUE(CreateDirectoryA(inner.c_str(), nullptr));
  const std::string marker = "ul_zip_hostile_" + std::to_string(GetCurrentProcessId());
  const std::vector<std::string> hostile = {
      "../" + marker,           "..\\" + marker,          "sub/../../" + marker, "C:\\" + marker,
      "C:" + marker,            "\\" + marker,            "/" + marker,          "ok.txt:stream",
      "sub/.../" + marker,      "",                       "NUL.txt",             "sub/com1"};
  for (const std::string& name : hostile) {
    EXPECT_EQ(Extract(inner, {{"fine.txt", "f"}, {name, "evil"}}), 0) << name;
    EXPECT_EQ(ReadBytes(inner + "\\fine.txt"), "f") << name;  // earlier entries stay
  }
  EXPECT_FALSE(Exists(outer / marker));
  EXPECT_FALSE(Exists("C:\\" + marker));
  EXPECT_FALSE(Exists(inner + "\\ok.txt"));
  EXPECT_FALSE(Exists(inner + "\\sub"));

  // Flattened paths still refuse a bare "..".
  ASSERT_TRUE(WriteBytes(inner + "\\flat.zip", BuildZip({{"a/b/c.txt", "c"}})));
  CZipExtractor zip(nullptr);
  ASSERT_TRUE(zip.OpenArchive((inner + "\\flat.zip").c_str()));
  EXPECT_EQ(zip.UnzipTo((outer / "flat").c_str(), 1), 1);
  EXPECT_EQ(ReadBytes(outer / "flat\\c.txt"), "c");
}

}  // namespace
