#include "tree/settings.h"

#include <cctype>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

namespace ulp {

namespace {

const char kHeader[] =
    "# ulmet-publish settings of this tree. \"ulmet-publish init\" writes them and\n"
    "# every \"ulmet-publish release\" reads and rewrites them. The web server must\n"
    "# not serve this file; nothing secret belongs in it.\n"
    "#\n"
    "# One setting per line: its name, one blank, its value (the rest of the line).\n"
    "# Client file and folder names are relative to the client folder, '/' between\n"
    "# folders, in code page 949.\n"
    "#\n"
    "#   host H            configuration server host (the directory file's record 5001)\n"
    "#   port N            its port\n"
    "#   version N         the newest published version; the next release is above it\n"
    "#   install-folder P  client folder that names are checked against as the updater\n"
    "#                     resolves them (the longest one in use leaves the least room)\n"
    "#   program-config P  server path of the program configuration\n"
    "#   update-list P     [UPDATELIST]\n"
    "#   update-files P    [UPDATESUBPATH]: every client file and archive lies below it\n"
    "#   hash-list P       [FILEHASH]\n"
    "#   installer P       [INSTALLVERSION]\n"
    "#   chunk-list P      [CHUNKLIST]: the list of the files that have a chunk index;\n"
    "#                     the indexes lie in its folder, which holds nothing else\n"
    "#                     (no such line: no indexes, every file travels whole)\n"
    "#   chunk-index-from N  files of at least N bytes get a chunk index\n"
    "#   patch-list P      [PATCHLIST]: the list of binary patches from earlier\n"
    "#                     versions of changed files; the patches lie in its folder,\n"
    "#                     which holds nothing else (no such line: no patches)\n"
    "#   patch-bases N     patches from the N newest earlier versions (1..16)\n"
    "#   patch-seconds N   the longest one patch may take to make, in seconds\n"
    "#   patch-memory-mib N  the most memory the encoder may take for one patch\n"
    "#   archive F         client folder published as the archive F.zip whenever\n"
    "#                     anything in it changes (one line each)\n"
    "#   hash-exclude N    client file left out of the hash list; a folder ends in '/'\n"
    "#   file N            client file of the newest version (one line each); the next\n"
    "#                     release finds deleted files and folders by these\n"
    "# The server paths must agree with the program configuration's sections.\n";

bool ToInt(const std::string& s, long lo, long hi, int* out) {
  char* end = nullptr;
  long v = std::strtol(s.c_str(), &end, 10);
  if (s.empty() || *end != '\0' || v < lo || v > hi) return false;
  *out = static_cast<int>(v);
  return true;
}

bool IsServerPath(const std::string& value) { return !value.empty() && value[0] == '/'; }

// "C:\..." or a share "\\server\...": what the updater's path gate takes as a
// client folder.
bool IsAbsoluteWindowsFolder(const std::string& value) {
  const bool drive = value.size() >= 3 && std::isalpha(static_cast<unsigned char>(value[0])) && value[1] == ':' &&
                     value[2] == '\\';
  return drive || value.rfind("\\\\", 0) == 0;
}

// One of the numbers that bound the making of patches.
bool ApplyPatchNumber(const std::string& name, const std::string& value, Settings* s, std::string* why) {
  const bool ok = name == "patch-bases"     ? ToInt(value, 1, 16, &s->patchBases)
                  : name == "patch-seconds" ? ToInt(value, 1, 86400, &s->patchSeconds)
                                            : ToInt(value, 64, 1 << 20, &s->patchMemoryMib);
  if (!ok) *why = name + (name == "patch-bases" ? " must be a number 1..16" :
                          name == "patch-seconds" ? " must be a number of seconds 1..86400" :
                                                    " must be a number of MiB 64..1048576");
  return ok;
}

// One "name value" line into s; false with the reason.
bool Apply(const std::string& name, const std::string& value, Settings* s, std::string* why) {
  std::string* path = name == "program-config" ? &s->paths.programConfig
                      : name == "update-list"  ? &s->paths.updateList
                      : name == "update-files" ? &s->paths.files
                      : name == "hash-list"    ? &s->paths.hashList
                      : name == "installer"    ? &s->paths.installer
                      : name == "chunk-list"   ? &s->paths.chunkList
                      : name == "patch-list"   ? &s->paths.patchList
                                               : nullptr;
  if (path != nullptr) {
    *path = value;
    if (!IsServerPath(value)) {
      *why = name + " must be a server path beginning with '/'";
    } else if (name == "update-files" && value.back() != '/') {
      *why = "update-files must end in '/'";
    } else if ((name == "chunk-list" || name == "patch-list") && value.back() == '/') {
      *why = name + " names a file, not a folder";
    }
  } else if (name == "host") {
    s->host = value;
    if (value.empty()) *why = "host is empty";
  } else if (name == "port") {
    if (!ToInt(value, 1, 65535, &s->port)) *why = "port must be a number 1..65535";
  } else if (name == "version") {
    if (!ToInt(value, kFirstVersion, 2147483647L, &s->version)) *why = "version must be a number from 1000";
  } else if (name == "install-folder") {
    s->installFolder = value;
    if (!IsAbsoluteWindowsFolder(value)) *why = "install-folder must be an absolute Windows folder (C:\\...)";
  } else if (name == "chunk-index-from") {
    char* end = nullptr;
    s->chunkIndexFrom = std::strtoull(value.c_str(), &end, 10);
    if (value.empty() || value[0] < '0' || value[0] > '9' || *end != '\0' || s->chunkIndexFrom == 0 ||
        s->chunkIndexFrom > (1ull << 50))
      *why = "chunk-index-from must be a number of bytes from 1";
  } else if (name == "patch-bases" || name == "patch-seconds" || name == "patch-memory-mib") {
    return ApplyPatchNumber(name, value, s, why);
  } else if (name == "archive") {
    s->archives.push_back(value);
  } else if (name == "hash-exclude") {
    s->hashExcludes.push_back(value);
  } else if (name == "file") {
    s->files.push_back(value);
  } else {
    *why = "unknown setting '" + name + "'";
  }
  return why->empty();
}

// Lower case: the folders of a server on Windows do not tell case apart.
std::string Folded(const std::string& path) {
  std::string folded = path;
  for (char& c : folded) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return folded;
}

}  // namespace

namespace {

// Why the folder of the list at listPath (named by setting) cannot hold only
// what the list names, or "".
std::string OwnFolderProblem(const char* setting, const std::string& listPath, const ServerPaths& paths) {
  if (listPath.empty()) return "";
  const std::string folder = Folded(listPath.substr(0, listPath.rfind('/') + 1));
  const std::string name = setting;
  if (folder == "/") return name + " must lie in a folder of its own, not at the top of the tree";
  if (folder.rfind(Folded(paths.files), 0) == 0) return name + " must not lie below update-files";
  for (const std::string* other : {&paths.programConfig, &paths.updateList, &paths.files, &paths.hashList,
                                   &paths.installer, &paths.chunkList, &paths.patchList}) {
    if (other == &listPath || other->empty()) continue;
    if (Folded(*other).rfind(folder, 0) == 0)
      return name + "'s folder must hold nothing but what the list names, and " + *other + " lies in it";
  }
  return "";
}

}  // namespace

std::string ListFolderProblem(const ServerPaths& paths) {
  const std::string why = OwnFolderProblem("chunk-list", paths.chunkList, paths);
  return why.empty() ? OwnFolderProblem("patch-list", paths.patchList, paths) : why;
}

std::string SettingsText(const Settings& s) {
  std::ostringstream out;
  out << kHeader << "host " << s.host << "\nport " << s.port << "\nversion " << s.version << "\ninstall-folder "
      << s.installFolder << "\nprogram-config " << s.paths.programConfig << "\nupdate-list " << s.paths.updateList
      << "\nupdate-files " << s.paths.files << "\nhash-list " << s.paths.hashList << "\ninstaller "
      << s.paths.installer << "\n";
  if (!s.paths.chunkList.empty()) out << "chunk-list " << s.paths.chunkList << "\n";
  out << "chunk-index-from " << s.chunkIndexFrom << "\n";
  if (!s.paths.patchList.empty())
    out << "patch-list " << s.paths.patchList << "\npatch-bases " << s.patchBases << "\npatch-seconds "
        << s.patchSeconds << "\npatch-memory-mib " << s.patchMemoryMib << "\n";
  for (const auto& a : s.archives) out << "archive " << a << "\n";
  for (const auto& e : s.hashExcludes) out << "hash-exclude " << e << "\n";
  for (const auto& f : s.files) out << "file " << f << "\n";
  return out.str();
}

bool ParseSettings(const std::string& text, Settings* settings, std::string* error) {
  Settings s;
  s.host.clear();
  bool sawVersion = false;
  std::istringstream in(text);
  std::string line;
  for (int n = 1; std::getline(in, line); ++n) {
    while (!line.empty() && line.back() == '\r') line.pop_back();  // written on Windows, or twice
    if (line.empty() || line[0] == '#') continue;
    const std::string::size_type blank = line.find(' ');
    const std::string name = line.substr(0, blank);
    const std::string value = blank == std::string::npos ? std::string() : line.substr(blank + 1);
    std::string why;
    if (!Apply(name, value, &s, &why)) {
      *error = "line " + std::to_string(n) + ": " + why;
      return false;
    }
    sawVersion = sawVersion || name == "version";
  }
  if (!sawVersion || s.host.empty()) {
    *error = "the version or the host is missing";
    return false;
  }
  const std::string why = ListFolderProblem(s.paths);
  if (!why.empty()) {
    *error = why;
    return false;
  }
  *settings = s;
  return true;
}

bool ReadTreeSettings(const std::string& tree, Settings* settings) {
  std::ifstream in(std::filesystem::path(tree) / kSettingsFile, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  std::string error;
  return in && ParseSettings(text.str(), settings, &error);
}

}  // namespace ulp
