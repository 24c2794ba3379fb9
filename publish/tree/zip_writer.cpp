#include "tree/zip_writer.h"

#include <zip.h>

#include <algorithm>
#include <cstring>

#include "system/disk_names.h"
#include "system/file_io.h"

namespace ulp {

namespace {

// minizip writes through these, over a file this code opened and owns: the
// system's own open takes any name, where minizip's would take only the
// ANSI code page's on Windows.
voidpf ZipOpen(voidpf opaque, const char*, int) { return opaque; }
uLong ZipRead(voidpf, voidpf stream, void* buf, uLong size) {
  return static_cast<uLong>(std::fread(buf, 1, size, static_cast<std::FILE*>(stream)));
}
uLong ZipWrite(voidpf, voidpf stream, const void* buf, uLong size) {
  return static_cast<uLong>(std::fwrite(buf, 1, size, static_cast<std::FILE*>(stream)));
}
long ZipTell(voidpf, voidpf stream) { return std::ftell(static_cast<std::FILE*>(stream)); }
long ZipSeek(voidpf, voidpf stream, uLong offset, int origin) {
  int whence = origin == ZLIB_FILEFUNC_SEEK_CUR ? SEEK_CUR : origin == ZLIB_FILEFUNC_SEEK_END ? SEEK_END : SEEK_SET;
  return std::fseek(static_cast<std::FILE*>(stream), static_cast<long>(offset), whence);
}
int ZipClose(voidpf, voidpf) { return 0; }  // the owner closes it
int ZipError(voidpf, voidpf stream) { return std::ferror(static_cast<std::FILE*>(stream)); }

bool AddMember(zipFile zf, const ZipMember& m, std::string* error) {
  zip_fileinfo zi;
  std::memset(&zi, 0, sizeof zi);
  std::tm t;
  if (LocalModifiedTime(m.source, &t)) {
    zi.tmz_date.tm_sec = static_cast<uInt>(t.tm_sec);
    zi.tmz_date.tm_min = static_cast<uInt>(t.tm_min);
    zi.tmz_date.tm_hour = static_cast<uInt>(t.tm_hour);
    zi.tmz_date.tm_mday = static_cast<uInt>(t.tm_mday);
    zi.tmz_date.tm_mon = static_cast<uInt>(t.tm_mon);
    zi.tmz_date.tm_year = static_cast<uInt>(t.tm_year + 1900);
  }
  std::string data;
  if (!m.folder && !ReadWholeFile(m.source, &data)) {
    *error = "cannot read " + Shown(m.source);
    return false;
  }
  const std::string entry = m.folder ? m.name + "/" : m.name;
  if (zipOpenNewFileInZip(zf, entry.c_str(), &zi, nullptr, 0, nullptr, 0, nullptr, m.folder ? 0 : Z_DEFLATED,
                          Z_DEFAULT_COMPRESSION) != ZIP_OK ||
      (!data.empty() && zipWriteInFileInZip(zf, data.data(), static_cast<unsigned>(data.size())) != ZIP_OK) ||
      zipCloseFileInZip(zf) != ZIP_OK) {
    *error = "cannot add " + Shown(entry) + " to the archive";
    return false;
  }
  return true;
}

}  // namespace

bool CollectMembers(const std::filesystem::path& base, const std::filesystem::path& item,
                    std::vector<ZipMember>* members, std::string* error) {
  namespace fs = std::filesystem;
  std::error_code ec;
  if (!fs::exists(item, ec)) {
    *error = "archive item " + Shown(item.lexically_relative(base)) + " is not in " + Shown(base);
    return false;
  }
  std::vector<fs::path> paths{item};
  if (fs::is_directory(item, ec)) {
    for (auto it = fs::recursive_directory_iterator(item); it != fs::recursive_directory_iterator(); ++it)
      paths.push_back(it->path());
    std::sort(paths.begin() + 1, paths.end());
  }
  for (const auto& p : paths) {
    ZipMember m;
    m.source = p;
    m.folder = fs::is_directory(p, ec);
    if (!ClientName(p.lexically_relative(base), &m.name)) {
      *error = "the name " + Shown(p.lexically_relative(base)) + " has no form in code page 949";
      return false;
    }
    members->push_back(m);
  }
  return true;
}

bool WriteZip(const std::filesystem::path& zipPath, const std::vector<ZipMember>& members, std::string* error) {
  std::error_code ec;
  std::filesystem::create_directories(zipPath.parent_path(), ec);
  std::filesystem::remove(zipPath, ec);
  OwnedFile file = OpenFile(zipPath, "w+b");
  if (!file) {
    *error = "cannot create " + Shown(zipPath);
    return false;
  }
  zlib_filefunc_def io = {ZipOpen, ZipRead, ZipWrite, ZipTell, ZipSeek, ZipClose, ZipError, file.get()};
  zipFile zf = zipOpen2("", APPEND_STATUS_CREATE, nullptr, &io);
  if (zf == nullptr) {
    *error = "cannot create " + Shown(zipPath);
    return false;
  }
  bool ok = true;
  for (const auto& m : members) {
    if (!AddMember(zf, m, error)) {
      ok = false;
      break;
    }
  }
  if (zipClose(zf, nullptr) != ZIP_OK && ok) {
    *error = "cannot finish " + Shown(zipPath);
    ok = false;
  }
  if (!CloseWritten(file) && ok) {
    *error = "cannot write " + Shown(zipPath);
    ok = false;
  }
  return ok;
}

}  // namespace ulp
