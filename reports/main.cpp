// ulmet-reports: receives the updaters' crash report posts, stores them
// (SQLite or PostgreSQL) and shows them to the operators.
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>

#include "pages/export.h"
#include "receive/answers.h"
#include "receive/server.h"
#include "store/retention.h"
#include "store/store.h"
#include "symbols/resolve.h"
#include "symbols_commands.h"

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
    "  prune     remove the reports older than a number of days\n"
    "  symbols   add, list or remove a client version's symbols\n"
    "  resymbolize  resolve reports with their symbols again\n"
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
    "  --pages-from LIST    the connecting addresses that may see the pages, ADDR or\n"
    "                       ADDR/BITS separated by commas (default 127.0.0.0/8,::1).\n"
    "                       The password travels in clear: serve the pages to others\n"
    "                       through nginx with TLS (reports/nginx/ulmet-reports.conf).\n"
    "  --threads N          connections served at once (default 64)\n"
    "  --trust-proxy        take the sender's address from X-Real-IP (behind nginx)\n"
    "  --ready-file F       written with \"ADDR PORT\" once the server listens\n"
    "  --help               this text\n"
    "\n"
    "What one sender may take:\n"
    "  --connections-per-address N  connections at once from one address (default 8;\n"
    "                       0: any; not counted with --trust-proxy, nginx counts them)\n"
    "  --request-seconds N  a request's head must arrive within N s (default 20);\n"
    "                       a body has one second more for every 16 KiB\n"
    "  --post-rate N        posts a minute from one sender (default 10; 0: any)\n"
    "  --post-burst N       posts at once before the rate applies (default 30)\n"
    "  --min-free-mb N      refuse posts while the store's disk has less than N MB\n"
    "                       free beside the post (default 1024; 0: never)\n"
    "  --free-space-path D  the folder whose disk that is (default: the SQLite file's;\n"
    "                       for PostgreSQL on this machine, its data folder)\n"
    "  --keep-days N        remove reports older than N days, at start and every hour\n"
    "                       (default 0: keep all)\n"
    "\n"
    "Answers on PATH: 200 stored (also for the same post again), 400 not a crash\n"
    "report's form, 405 not POST, 411 no Content-Length, 413 larger than the\n"
    "largest report, 415 not a form or compressed, 429 too many posts from the\n"
    "sender (the updater deletes its log), 503 the store failed, its disk is below\n"
    "the floor, too many connections from the address or the request too slow (the\n"
    "updater keeps its log and posts it again at its next start). Every answer from\n"
    "400 on ends its connection.\n"
    "SIGTERM or SIGINT ends it after the reports in hand are stored.\n";

const char kUpgradeUsage[] =
    "usage: ulmet-reports upgrade --store STORE\n"
    "\n"
    "Creates the store's tables, or brings a store made by an older ulmet-reports\n"
    "to this version, and says which version it found. serve does the same when\n"
    "it starts; this is for doing it before the receivers start.\n";

const char kPruneUsage[] =
    "usage: ulmet-reports prune --store STORE --days N\n"
    "\n"
    "Removes the reports received more than N days ago, and the signatures that\n"
    "no report is left of, in small transactions (receivers may go on meanwhile).\n"
    "serve --keep-days N does the same every hour.\n";

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

// serve's options that take a number, with the numbers they take.
struct NumberOption {
  const char* name;
  int ulr::ServeOptions::*field;
  int min, max;
};
const NumberOption kServeNumbers[] = {
    {"--threads", &ulr::ServeOptions::threads, 1, 1024},
    {"--connections-per-address", &ulr::ServeOptions::connectionsPerAddress, 0, 1024},
    {"--request-seconds", &ulr::ServeOptions::requestSeconds, 1, 3600},
    {"--post-rate", &ulr::ServeOptions::postsPerMinute, 0, 1000000},
    {"--post-burst", &ulr::ServeOptions::postBurst, 1, 1000000},
    {"--min-free-mb", &ulr::ServeOptions::minFreeMb, 0, 100000000},
    {"--keep-days", &ulr::ServeOptions::keepDays, 0, 1000000},
};
struct TextOption {
  const char* name;
  std::string ulr::ServeOptions::*field;
};
const TextOption kServeTexts[] = {
    {"--store", &ulr::ServeOptions::store},
    {"--path", &ulr::ServeOptions::path},
    {"--ready-file", &ulr::ServeOptions::readyFile},
    {"--free-space-path", &ulr::ServeOptions::freeSpacePath},
    {"--pages-from", &ulr::ServeOptions::pagesFrom},
};

// A whole number from min to max.
bool Number(const char* text, int min, int max, int* out) {
  char* end = nullptr;
  errno = 0;
  const long n = std::strtol(text, &end, 10);
  if (errno != 0 || end == text || *end != '\0' || n < min || n > max) return false;
  *out = static_cast<int>(n);
  return true;
}

bool Listen(const std::string& a, ulr::ServeOptions* o) {
  const std::size_t colon = a.rfind(':');
  int port = 0;
  if (colon == std::string::npos || colon == 0 || !Number(a.c_str() + colon + 1, 0, 65535, &port)) return false;
  o->host = a.substr(0, colon);
  o->port = port;
  return true;
}

// One option of serve (and its value, *i moved past it); 2 after a
// message when it is wrong, 1 for --help, 0 when taken.
int ServeOption(int argc, char** argv, int* i, ulr::ServeOptions* o, std::string* passwordFile) {
  const std::string w = argv[*i];
  if (IsHelp(argv[*i])) return 1;
  if (w == "--trust-proxy") {
    o->trustProxy = true;
    return 0;
  }
  const char* v = nullptr;
  for (const NumberOption& n : kServeNumbers) {
    if (w != n.name) continue;
    if ((v = Value(argc, argv, i)) == nullptr) return 2;
    if (!Number(v, n.min, n.max, &(o->*n.field)))
      return Usage(kServeUsage, w + " takes " + std::to_string(n.min) + " to " + std::to_string(n.max));
    return 0;
  }
  for (const TextOption& t : kServeTexts) {
    if (w != t.name) continue;
    if ((v = Value(argc, argv, i)) == nullptr) return 2;
    o->*t.field = v;
    return 0;
  }
  if (w == "--password-file" || w == "--listen") {
    if ((v = Value(argc, argv, i)) == nullptr) return 2;
    if (w == "--password-file") *passwordFile = v;
    else if (!Listen(v, o)) return Usage(kServeUsage, "--listen takes ADDR:PORT");
    return 0;
  }
  return Usage(kServeUsage, "unknown option '" + w + "'");
}

int ServeCommand(int argc, char** argv) {
  ulr::ServeOptions o;
  std::string passwordFile;
  for (int i = 0; i < argc; ++i) {
    const int rc = ServeOption(argc, argv, &i, &o, &passwordFile);
    if (rc == 1) std::fputs(kServeUsage, stdout);
    if (rc == 1) return 0;
    if (rc != 0) return rc;
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

int PruneCommand(int argc, char** argv) {
  std::string store;
  int days = -1;
  for (int i = 0; i < argc; ++i) {
    const std::string w = argv[i];
    const char* v = nullptr;
    if (IsHelp(argv[i])) {
      std::fputs(kPruneUsage, stdout);
      return 0;
    } else if (w == "--store" || w == "--days") {
      if ((v = Value(argc, argv, &i)) == nullptr) return 2;
      if (w == "--store") store = v;
      else if (!Number(v, 1, 1000000, &days)) return Usage(kPruneUsage, "--days takes 1 to 1000000");
    } else {
      return Usage(kPruneUsage, "unknown option '" + w + "'");
    }
  }
  if (store.empty() || days < 0) return Usage(kPruneUsage, "--store and --days are required");
  std::string error;
  auto s = ulr::OpenStore(store, false, &error);
  const std::int64_t removed = s ? ulr::RemoveOlderThan(*s, days, ulr::NowMs(), &error) : -1;
  if (removed < 0) {
    std::fprintf(stderr, "ulmet-reports: %s\n", error.c_str());
    return 1;
  }
  std::printf("removed %lld reports older than %d days\n", static_cast<long long>(removed), days);
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
  if (command == "prune") return PruneCommand(argc - 2, argv + 2);
  if (command == "symbols") return ulr::SymbolsCommand(argc - 2, argv + 2);
  if (command == "resymbolize") return ulr::ResymbolizeCommand(argc - 2, argv + 2);
  return Usage(kUsage, "unknown command '" + command + "'");
}
