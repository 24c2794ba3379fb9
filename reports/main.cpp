// ulmet-reports: receives the updaters' crash report posts, stores them
// (SQLite or PostgreSQL) and shows them to the operators.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>

#include "pages/export.h"
#include "receive/server.h"
#include "store/store.h"

namespace {

const char kUsage[] =
    "usage: ulmet-reports COMMAND [options]\n"
    "\n"
    "Receives the crash reports that Ulmet.exe posts, keeps them and shows them.\n"
    "\n"
    "commands:\n"
    "  serve     receive posts and serve the operator's pages\n"
    "  upgrade   create the store's tables or bring them to this version\n"
    "  export    write one signature's reports as CSV or JSON\n"
    "\n"
    "\"ulmet-reports COMMAND --help\" describes each.\n"
    "\n"
    "STORE is sqlite:PATH (one file; one machine) or a PostgreSQL connection\n"
    "string, \"postgresql://user@host/db\" or \"host=... dbname=...\" (several\n"
    "receivers share it).\n";

const char kServeUsage[] =
    "usage: ulmet-reports serve --store STORE [--listen ADDR:PORT] [--path PATH] [options]\n"
    "\n"
    "Takes the updaters' crash report posts on PATH and stores each before it\n"
    "answers; serves the operator's pages on every other path, behind a password.\n"
    "The store's tables are created or upgraded first.\n"
    "\n"
    "  --store STORE        sqlite:PATH or a PostgreSQL connection string\n"
    "  --listen ADDR:PORT   where to listen (default 127.0.0.1:8080; port 0 picks one).\n"
    "                       The updater posts to port 80 of [EXCEPTIONHOST]: listen\n"
    "                       there, or behind a web server that passes the path on.\n"
    "  --path PATH          the receiving path, [EXCEPTIONPATH] (default /report)\n"
    "  --password-file F    the operator's password: the first line of F. Also taken\n"
    "                       from the environment variable ULMET_REPORTS_PASSWORD.\n"
    "                       Without one, no pages are served.\n"
    "  --threads N          connections served at once (default 64)\n"
    "  --trust-proxy        take the sender's address from X-Real-IP (behind nginx)\n"
    "  --ready-file F       written with \"ADDR PORT\" once the server listens\n"
    "  --help               this text\n"
    "\n"
    "Answers on PATH: 200 stored (also for the same post again), 400 not a crash\n"
    "report's form, 405 not POST, 411 no Content-Length, 413 larger than the\n"
    "largest report, 415 not a form or compressed, 503 the store failed.\n"
    "SIGTERM or SIGINT ends it after the reports in hand are stored.\n";

const char kUpgradeUsage[] =
    "usage: ulmet-reports upgrade --store STORE\n"
    "\n"
    "Creates the store's tables, or brings a store made by an older ulmet-reports\n"
    "to this version, and says which version it found. serve does the same when\n"
    "it starts; this is for doing it before the receivers start.\n";

const char kExportUsage[] =
    "usage: ulmet-reports export --store STORE --signature ID [--format csv|json] [--out FILE]\n"
    "\n"
    "Writes every report of the signature ID (the number in the signature page's\n"
    "address), oldest first, with its fields and whole log in UTF-8, to FILE or\n"
    "standard output. CSV (the default) starts with a UTF-8 mark for spreadsheets.\n";

int Usage(const char* text, const std::string& problem) {
  std::fprintf(stderr, "ulmet-reports: %s\n\n%s", problem.c_str(), text);
  return 2;
}

// The option's value, or null (after a message) when none follows.
const char* Value(int argc, char** argv, int* i) {
  if (*i + 1 >= argc) {
    std::fprintf(stderr, "ulmet-reports: %s needs a value\n", argv[*i]);
    return nullptr;
  }
  return argv[++*i];
}

bool IsHelp(const char* word) { return std::strcmp(word, "--help") == 0 || std::strcmp(word, "-h") == 0; }

bool ReadPassword(const std::string& file, std::string* password) {
  std::ifstream in(file);
  if (!in || !std::getline(in, *password)) return false;
  while (!password->empty() && (password->back() == '\r' || password->back() == ' ')) password->pop_back();
  return true;
}

int ServeCommand(int argc, char** argv) {
  ulr::ServeOptions o;
  std::string passwordFile;
  for (int i = 0; i < argc; ++i) {
    const std::string w = argv[i];
    const char* v = nullptr;
    if (IsHelp(argv[i])) {
      std::fputs(kServeUsage, stdout);
      return 0;
    } else if (w == "--trust-proxy") {
      o.trustProxy = true;
    } else if (w == "--store" || w == "--listen" || w == "--path" || w == "--password-file" || w == "--threads" ||
               w == "--ready-file") {
      if ((v = Value(argc, argv, &i)) == nullptr) return 2;
      if (w == "--store") o.store = v;
      if (w == "--path") o.path = v;
      if (w == "--password-file") passwordFile = v;
      if (w == "--ready-file") o.readyFile = v;
      if (w == "--threads") {
        o.threads = std::atoi(v);
        if (o.threads < 1 || o.threads > 1024) return Usage(kServeUsage, "--threads takes 1 to 1024");
      }
      if (w == "--listen") {
        const std::string a = v;
        const std::size_t colon = a.rfind(':');
        char* end = nullptr;
        const long port = colon == std::string::npos ? -1 : std::strtol(a.c_str() + colon + 1, &end, 10);
        if (colon == 0 || port < 0 || port > 65535 || end == nullptr || *end != '\0')
          return Usage(kServeUsage, "--listen takes ADDR:PORT");
        o.host = a.substr(0, colon);
        o.port = static_cast<int>(port);
      }
    } else {
      return Usage(kServeUsage, "unknown option '" + w + "'");
    }
  }
  if (o.store.empty()) return Usage(kServeUsage, "--store is required");
  if (ulr::StoreKind(o.store).empty()) return Usage(kServeUsage, "--store takes sqlite:PATH or a PostgreSQL connection string");
  if (o.path.empty() || o.path[0] != '/' || o.path == "/" || o.path.rfind("/signatures", 0) == 0 ||
      o.path.rfind("/reports/", 0) == 0)
    return Usage(kServeUsage, "--path must begin with '/' and not be one of the pages' (/, /signatures..., /reports/...)");
  if (!passwordFile.empty()) {
    if (!ReadPassword(passwordFile, &o.password) || o.password.empty()) {
      std::fprintf(stderr, "ulmet-reports: no password in %s\n", passwordFile.c_str());
      return 1;
    }
  } else if (const char* env = std::getenv("ULMET_REPORTS_PASSWORD")) {
    o.password = env;
  }
  return ulr::Serve(o);
}

int UpgradeCommand(int argc, char** argv) {
  std::string store;
  for (int i = 0; i < argc; ++i) {
    const std::string w = argv[i];
    const char* v = nullptr;
    if (IsHelp(argv[i])) {
      std::fputs(kUpgradeUsage, stdout);
      return 0;
    } else if (w == "--store") {
      if ((v = Value(argc, argv, &i)) == nullptr) return 2;
      store = v;
    } else {
      return Usage(kUpgradeUsage, "unknown option '" + w + "'");
    }
  }
  if (store.empty()) return Usage(kUpgradeUsage, "--store is required");
  std::string error;
  int before = 0;
  if (!ulr::OpenStore(store, true, &error, &before)) {
    std::fprintf(stderr, "ulmet-reports: %s\n", error.c_str());
    return 1;
  }
  if (before == ulr::kSchemaVersion) std::printf("the store is at schema %d already\n", before);
  else std::printf("the store was at schema %d and is now at %d\n", before, ulr::kSchemaVersion);
  return 0;
}

int ExportCommand(int argc, char** argv) {
  std::string store, out, format = "csv";
  long long id = 0;
  for (int i = 0; i < argc; ++i) {
    const std::string w = argv[i];
    const char* v = nullptr;
    if (IsHelp(argv[i])) {
      std::fputs(kExportUsage, stdout);
      return 0;
    } else if (w == "--store" || w == "--signature" || w == "--format" || w == "--out") {
      if ((v = Value(argc, argv, &i)) == nullptr) return 2;
      if (w == "--store") store = v;
      if (w == "--out") out = v;
      if (w == "--format") format = v;
      if (w == "--signature") id = std::atoll(v);
    } else {
      return Usage(kExportUsage, "unknown option '" + w + "'");
    }
  }
  if (store.empty() || id <= 0) return Usage(kExportUsage, "--store and --signature are required");
  if (format != "csv" && format != "json") return Usage(kExportUsage, "--format takes csv or json");
  std::string error;
  auto s = ulr::OpenStore(store, false, &error);
  ulr::SignatureSummary signature;
  bool found = false;
  if (!s || !s->Signature(id, &signature, &found, &error)) {
    std::fprintf(stderr, "ulmet-reports: %s\n", error.c_str());
    return 1;
  }
  if (!found) {
    std::fprintf(stderr, "ulmet-reports: no signature %lld in the store\n", id);
    return 1;
  }
  std::FILE* f = out.empty() ? stdout : std::fopen(out.c_str(), "wb");
  if (f == nullptr) {
    std::fprintf(stderr, "ulmet-reports: cannot write %s\n", out.c_str());
    return 1;
  }
  ulr::Export e(*s, signature, format == "csv" ? ulr::ExportFormat::kCsv : ulr::ExportFormat::kJson);
  std::string piece;
  bool end = false, ok = true;
  while (ok && !end) {
    ok = e.Next(&piece, &end, &error) && std::fwrite(piece.data(), 1, piece.size(), f) == piece.size();
  }
  if (f != stdout) ok = std::fclose(f) == 0 && ok;
  else ok = std::fflush(f) == 0 && ok;
  if (!ok) std::fprintf(stderr, "ulmet-reports: export failed: %s\n", error.empty() ? "write error" : error.c_str());
  return ok ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2 || IsHelp(argv[1])) {
    std::fputs(kUsage, argc < 2 ? stderr : stdout);
    return argc < 2 ? 2 : 0;
  }
  const std::string command = argv[1];
  if (command == "serve") return ServeCommand(argc - 2, argv + 2);
  if (command == "upgrade") return UpgradeCommand(argc - 2, argv + 2);
  if (command == "export") return ExportCommand(argc - 2, argv + 2);
  return Usage(kUsage, "unknown command '" + command + "'");
}
