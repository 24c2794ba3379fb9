#include "publisher.h"

#include <sys/stat.h>
#include <iconv.h>
#include <zip.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <map>
#include <set>
#include <sstream>

#include "config/md5.h"

namespace fs = std::filesystem;

namespace tb {

namespace {

constexpr size_t kChunk = 32768;

std::string Lower(std::string s) {
  for (auto& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return s;
}

bool ReadAll(const fs::path& p, std::string* data) {
  std::ifstream in(p, std::ios::binary);
  if (!in) return false;
  std::ostringstream ss;
  ss << in.rdbuf();
  *data = ss.str();
  return !in.bad();
}

bool WriteAll(const fs::path& p, const std::string& data, std::string* error) {
  std::error_code ec;
  fs::create_directories(p.parent_path(), ec);
  std::ofstream out(p, std::ios::binary | std::ios::trunc);
  out.write(data.data(), static_cast<std::streamsize>(data.size()));
  out.close();
  if (!out) {
    *error = "cannot write " + p.string();
    return false;
  }
  return true;
}

// The server's text files and names are in the Korean code page, as the
// updater reads them; the release and the client folder's names are UTF-8.
bool ToCp949(const std::string& utf8, std::string* out) {
  bool ascii = std::all_of(utf8.begin(), utf8.end(), [](char c) { return (c & 0x80) == 0; });
  if (ascii) {
    *out = utf8;
    return true;
  }
  iconv_t cd = iconv_open("CP949", "UTF-8");
  if (cd == reinterpret_cast<iconv_t>(-1)) return false;
  std::string result(utf8.size() * 2 + 4, '\0');
  char* in = const_cast<char*>(utf8.data());
  size_t inLeft = utf8.size();
  char* o = &result[0];
  size_t outLeft = result.size();
  size_t r = iconv(cd, &in, &inLeft, &o, &outLeft);
  iconv_close(cd);
  if (r == static_cast<size_t>(-1) || inLeft != 0) return false;
  result.resize(result.size() - outLeft);
  *out = result;
  return true;
}

// Client-folder-relative path with '/' separators.
std::string Relative(const fs::path& p, const fs::path& base) {
  return p.lexically_relative(base).generic_string();
}

bool HashExcluded(const std::string& rel, const std::vector<std::string>& excludes) {
  for (const auto& e : excludes) {
    if (!e.empty() && e.back() == '/') {
      if (Lower(rel).rfind(Lower(e), 0) == 0) return true;
    } else if (Lower(rel) == Lower(e)) {
      return true;
    }
  }
  return false;
}

bool AddToZip(zipFile zf, const fs::path& file, const std::string& name, std::string* error) {
  zip_fileinfo zi;
  std::memset(&zi, 0, sizeof zi);
  struct stat st;
  if (stat(file.c_str(), &st) == 0) {
    struct tm t;
    localtime_r(&st.st_mtime, &t);
    zi.tmz_date.tm_sec = t.tm_sec;
    zi.tmz_date.tm_min = t.tm_min;
    zi.tmz_date.tm_hour = t.tm_hour;
    zi.tmz_date.tm_mday = t.tm_mday;
    zi.tmz_date.tm_mon = t.tm_mon;
    zi.tmz_date.tm_year = t.tm_year + 1900;
  }
  bool folder = fs::is_directory(file);
  std::string data;
  if (!folder && !ReadAll(file, &data)) {
    *error = "cannot read " + file.string();
    return false;
  }
  std::string entry = folder ? name + "/" : name;
  if (zipOpenNewFileInZip(zf, entry.c_str(), &zi, nullptr, 0, nullptr, 0, nullptr,
                          folder ? 0 : Z_DEFLATED, Z_DEFAULT_COMPRESSION) != ZIP_OK ||
      (!data.empty() && zipWriteInFileInZip(zf, data.data(), static_cast<unsigned>(data.size())) != ZIP_OK) ||
      zipCloseFileInZip(zf) != ZIP_OK) {
    *error = "cannot add " + entry + " to the archive";
    return false;
  }
  return true;
}

bool BuildArchive(const fs::path& zipPath, const fs::path& base, const std::vector<std::string>& items,
                  std::string* error) {
  std::error_code ec;
  fs::create_directories(zipPath.parent_path(), ec);
  zipFile zf = zipOpen(zipPath.c_str(), APPEND_STATUS_CREATE);
  if (!zf) {
    *error = "cannot create " + zipPath.string();
    return false;
  }
  bool ok = true;
  for (const auto& item : items) {
    fs::path p = base / item;
    if (!fs::exists(p)) {
      *error = "archive item " + item + " is not in " + base.string();
      ok = false;
      break;
    }
    std::vector<fs::path> paths{p};
    if (fs::is_directory(p)) {
      for (auto it = fs::recursive_directory_iterator(p); it != fs::recursive_directory_iterator(); ++it)
        paths.push_back(it->path());
      std::sort(paths.begin() + 1, paths.end());
    }
    for (const auto& q : paths) {
      std::string name;
      if (!ToCp949(Relative(q, base), &name)) {
        *error = "the name " + Relative(q, base) + " has no form in code page 949";
        ok = false;
        break;
      }
      if (!AddToZip(zf, q, name, error)) {
        ok = false;
        break;
      }
    }
    if (!ok) break;
  }
  if (zipClose(zf, nullptr) != ZIP_OK && ok) {
    *error = "cannot finish " + zipPath.string();
    ok = false;
  }
  return ok;
}

std::string DirectoryFile(const std::string& host, int port, const std::string& programPath) {
  std::ostringstream out;
  out << "; configuration server directory\n"
      << "5001\n" << host << "\n" << port << "\n" << programPath << "\n";
  return out.str();
}

}  // namespace

bool ChainedFileDigest(const std::string& path, std::string* hex) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return false;
  std::string digest;
  std::string chunk(kChunk, '\0');
  bool first = true;
  for (;;) {
    in.read(&chunk[0], kChunk);
    std::streamsize got = in.gcount();
    if (got <= 0) break;
    std::string work = first ? chunk.substr(0, got) : digest + chunk.substr(0, got);
    char out[33];
    // The length is the chunk's own: a later chunk's last 32 bytes fall out.
    DigestBuffer(work.data(), static_cast<size_t>(got), out);
    digest.assign(out, 32);
    first = false;
  }
  if (in.bad()) return false;
  *hex = digest;
  return true;
}

std::string PublishedName(const std::string& entry) {
  std::string s = entry;
  std::replace(s.begin(), s.end(), ' ', '!');
  return s;
}

namespace {

const char kProgramPath[] = "/UlLaunch/ULProgram.cfg";
const char kFilesDir[] = "Ulmet3/files/";

// The tree being built beside its final place, and what has gone into it.
struct Stage {
  fs::path root;
  PublishResult* result;

  bool Fail(const std::string& why) {
    result->error = why;
    return false;
  }
  // A file under its tree-relative name, which the server keeps in code page
  // 949.
  bool Write(const std::string& rel, const std::string& data) {
    std::string name;
    if (!ToCp949(rel, &name)) return Fail("the name " + rel + " has no form in code page 949");
    if (!WriteAll(root / name, data, &result->error)) return false;
    result->written.push_back(rel);
    return true;
  }
  // Text files: UTF-8 in the release, code page 949 on the server.
  bool WriteText(const std::string& rel, const std::string& text) {
    std::string ansi;
    if (!ToCp949(text, &ansi)) return Fail(rel + " holds text without a form in code page 949");
    return Write(rel, ansi);
  }
};

// Why publishing from client into out could do harm, or "" when it cannot:
// no client folder, a root, a folder that is no earlier tree (or is one,
// without --force), or the two inside each other.
std::string PlaceProblem(const PublishOptions& o, const fs::path& client, const fs::path& out) {
  if (!fs::is_directory(client)) return "client folder " + o.clientDir + " does not exist";
  if (out.empty() || out == out.root_path()) return "refusing to publish into " + out.string();
  if (fs::exists(out)) {
    bool empty = fs::is_directory(out) && fs::is_empty(out);
    if (!empty && !o.force) return out.string() + " exists; --force replaces a tree published before";
    if (!empty && !fs::exists(out / "UlLaunch" / "global_Ulmet.cfg"))
      return out.string() + " does not look like a published tree; not replacing it";
  }
  const std::string clientText = client.string();
  const std::string outText = out.string();
  if (outText.rfind(clientText + "/", 0) == 0 || clientText.rfind(outText + "/", 0) == 0 || client == out)
    return "the tree and the client folder must not contain each other";
  return "";
}

// The program configuration: the updater's sections in their documented
// order with a local test server's values, changed by the release's set and
// unset statements; sections the updater does not know follow by name.
std::string ProgramConfiguration(const Release& release, const std::string& host) {
  const std::string base = "/Ulmet3/";
  const std::vector<std::pair<std::string, std::string>> known = {
      {"INSTANCENUMBER", "5001"},
      {"PATCHWELL", "1"},
      {"UPDATESUBPATH", base + "files/"},
      {"UPDATELIST", base + "UpdateList.dat"},
      {"CHECKUP", "0"},
      {"CHECKUPNOTICE", "http://" + host + "/notice.html"},
      {"REGISTRY", "HK_LOCAL_MACHINE"},
      {"REGISTRYPATH", "Software\\Zolte\\ULMET3"},
      {"REGISTRYNEWPATH", "Software\\ULMET3"},
      {"REGISTRYULMETPATH", "Software\\ULMET"},
      {"REGISTRYKEY", "PatchPath"},
      {"EXCEPTION", "1"},
      {"EXCEPTIONHOST", host},
      {"EXCEPTIONPATH", "/report/exception.php"},
      {"INSTALLVERSION", base + "Ulmet_install.exe"},
      {"FILEHASH", base + "ULHashFile.dat"},
  };
  std::map<std::string, std::string> sections(known.begin(), known.end());
  for (const auto& s : release.sections) sections[s.first] = s.second;
  for (const auto& u : release.unset) sections.erase(u);
  std::ostringstream program;
  program << "; program configuration\n";
  for (const auto& k : known) {
    auto it = sections.find(k.first);
    if (it == sections.end()) continue;
    program << "[" << it->first << "]\n" << it->second << "\n";
    sections.erase(it);
  }
  for (const auto& s : sections) program << "[" << s.first << "]\n" << s.second << "\n";
  return program.str();
}

// The client folder's files, sorted, so that the tree never depends on the
// order in which the file system lists them.
std::vector<fs::path> ClientFiles(const fs::path& client) {
  std::vector<fs::path> files;
  for (auto it = fs::recursive_directory_iterator(client); it != fs::recursive_directory_iterator(); ++it) {
    if (it->is_regular_file()) files.push_back(it->path());
  }
  std::sort(files.begin(), files.end());
  return files;
}

// Every client file, under its path in the client folder.
bool PublishClientFiles(Stage& stage, const fs::path& client, const std::vector<fs::path>& files) {
  for (const auto& f : files) {
    std::string data;
    if (!ReadAll(f, &data)) return stage.Fail("cannot read " + f.string());
    if (!stage.Write(kFilesDir + PublishedName(Relative(f, client)), data)) return false;
  }
  return true;
}

// Deletions and the installer are not files of the tree; the others are.
bool IsPublishedEntry(const std::string& entry) {
  if (entry[0] == '-' || entry[0] == '=') return false;
  std::string lower = Lower(entry);
  return lower != "ulmet3_install.exe" && lower.find("ulmet_install.exe") == std::string::npos;
}

// An entry that needs more than the plain client file: an archive built from
// the client folder, or a file from its declared source. A plain entry must
// be a client file.
bool PublishEntry(Stage& stage, const Release& release, const fs::path& client, const std::string& e,
                  int line) {
  // Entries may name sub-folders with '\' (the updater unpacks an archive
  // into the folder before its last '\') or '/'; on disk both are folders.
  std::string fsName = e;
  std::replace(fsName.begin(), fsName.end(), '\\', '/');
  const std::string published = kFilesDir + PublishedName(fsName);
  auto archive = release.archives.find(e);
  if (archive != release.archives.end()) {
    fs::path archiveBase = client / fs::path(fsName).parent_path();
    std::string zipName;
    if (!ToCp949(published, &zipName)) return stage.Fail("the name " + e + " has no form in code page 949");
    if (!BuildArchive(stage.root / zipName, archiveBase, archive->second, &stage.result->error)) return false;
    stage.result->written.push_back(published);
    return true;
  }
  auto source = release.fileSources.find(e);
  if (source != release.fileSources.end()) {
    fs::path src = source->second;
    if (src.is_relative()) src = client / src;
    std::string data;
    if (!ReadAll(src, &data)) return stage.Fail("cannot read " + src.string() + " for entry " + e);
    return stage.Write(published, data);
  }
  if (fs::is_regular_file(client / fsName)) return true;
  return stage.Fail("entry " + e + " (line " + std::to_string(line) +
                    ") is neither a client file nor a declared archive or file");
}

// The update list: the header, then one line per version; each entry is
// published the first time a version names it.
bool WriteUpdateList(Stage& stage, const Release& release, const fs::path& client) {
  std::set<std::string> entriesSeen;
  std::ostringstream list;
  list << release.header << "\n";
  int lastVersion = 0;
  for (const auto& v : release.versions) {
    if (v.number <= lastVersion)
      stage.result->warnings.push_back("version " + std::to_string(v.number) + " (line " +
                                       std::to_string(v.line) + ") is not above the one before it");
    lastVersion = std::max(lastVersion, v.number);
    list << v.number;
    for (const auto& e : v.entries) {
      list << " " << PublishedName(e);
      if (!IsPublishedEntry(e) || !entriesSeen.insert(e).second) continue;
      if (!PublishEntry(stage, release, client, e, v.line)) return false;
    }
    list << "\n";
  }
  for (const auto& a : release.archives) {
    if (!entriesSeen.count(a.first))
      stage.result->warnings.push_back("archive " + a.first + " is in no version");
  }
  return stage.WriteText("Ulmet3/UpdateList.dat", list.str());
}

// Hash list: every client file not excluded, with its chained digest.
bool WriteHashList(Stage& stage, const Release& release, const fs::path& client,
                   const std::vector<fs::path>& files) {
  std::vector<std::string> excludes = {"Ulmet.exe", "Ulmet.ex_", "Ulmet.e__", "bvx.dl_", "Log/"};
  excludes.insert(excludes.end(), release.hashExcludes.begin(), release.hashExcludes.end());
  std::ostringstream hashes;
  hashes << "; name:number:digest:folder\n";
  int number = 0;
  for (const auto& f : files) {
    std::string rel = Relative(f, client);
    if (HashExcluded(rel, excludes)) continue;
    std::error_code ec;
    if (fs::file_size(f, ec) == 0) {
      // An empty file has an empty digest, and an empty field ends the list.
      stage.result->warnings.push_back("empty file " + rel + " left out of the hash list");
      continue;
    }
    if (rel.find(':') != std::string::npos)
      return stage.Fail("a client file name holds ':', which the hash list cannot carry: " + rel);
    std::string digest;
    if (!ChainedFileDigest(f.string(), &digest)) return stage.Fail("cannot read " + f.string());
    fs::path r(rel);
    std::string folder = r.parent_path().empty() ? ".\\" : r.parent_path().generic_string() + "/";
    std::replace(folder.begin(), folder.end(), '/', '\\');
    hashes << r.filename().string() << ":" << ++number << ":" << digest << ":" << folder << "\n";
  }
  if (number == 0)
    stage.result->warnings.push_back("the hash list has no entry; the updater will stop at start-up");
  return stage.WriteText("Ulmet3/ULHashFile.dat", hashes.str());
}

bool PublishInstaller(Stage& stage, const Release& release, const std::string& releaseDir) {
  if (release.installer.empty()) return true;
  fs::path inst = release.installer;
  if (inst.is_relative()) inst = fs::path(releaseDir) / inst;
  std::string data;
  if (!ReadAll(inst, &data)) return stage.Fail("cannot read the installer " + inst.string());
  return stage.Write("Ulmet3/Ulmet_install.exe", data);
}

// The finished tree takes the place of the one before, if any.
bool ReplaceTree(Stage& stage, const fs::path& out) {
  std::error_code ec;
  fs::remove_all(out, ec);
  if (ec) return stage.Fail("cannot remove the old tree " + out.string() + ": " + ec.message());
  fs::rename(stage.root, out, ec);
  if (ec) return stage.Fail("cannot move the new tree into place: " + ec.message());
  return true;
}

}  // namespace

// The tree is built beside its place and moved there only when complete, so
// a failed publication never leaves half a tree where the server looks.
bool Publish(const Release& release, const PublishOptions& o, PublishResult* result) {
  const fs::path client = fs::absolute(o.clientDir).lexically_normal();
  const fs::path out = fs::absolute(o.outDir).lexically_normal();
  result->error = PlaceProblem(o, client, out);
  if (!result->error.empty()) return false;

  Stage stage{out.string() + ".partial", result};
  std::error_code ec;
  fs::remove_all(stage.root, ec);
  fs::create_directories(stage.root, ec);
  if (ec) return stage.Fail("cannot create " + stage.root.string() + ": " + ec.message());

  const std::string host = release.host.empty() ? o.host : release.host;
  if (!stage.WriteText("UlLaunch/global_Ulmet.cfg", DirectoryFile(host, release.port, kProgramPath)) ||
      !stage.WriteText("UlLaunch/ULProgram.cfg", ProgramConfiguration(release, host)))
    return false;
  const std::vector<fs::path> files = ClientFiles(client);
  return PublishClientFiles(stage, client, files) && WriteUpdateList(stage, release, client) &&
         WriteHashList(stage, release, client, files) && PublishInstaller(stage, release, o.releaseDir) &&
         ReplaceTree(stage, out);
}

}  // namespace tb
