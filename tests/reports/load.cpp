#include "load.h"

#include "harness.h"

#include <httplib.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <mutex>
#include <thread>

#include "common/crash_log.h"
#include "crash/crash_log.h"
#include "crash/form_encode.h"

namespace ulrt {

namespace {

double Now() {
  return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

}  // namespace

double LoadResult::PercentileMs(double p) const {
  if (latencyMs.empty()) return 0;
  std::vector<double> sorted = latencyMs;
  std::sort(sorted.begin(), sorted.end());
  std::size_t at = static_cast<std::size_t>(p / 100.0 * static_cast<double>(sorted.size()));
  return sorted[std::min(at, sorted.size() - 1)];
}

std::string LoadUid(const std::string& prefix, int i) { return prefix + "-" + std::to_string(i); }

std::string LoadLog(int i) {
  static const char* const kModules[] = {"C:\\Ulmet\\UlmetMain.exe", "C:\\Ulmet\\Skin.dll",
                                         "C:\\WINDOWS\\system32\\ntdll.dll", "C:\\Ulmet\\\xC7\xC3\xB7\xAF\xB1\xD7\xC0\xCE.dll"};
  tb::CrashLog log;
  log.version = std::to_string(4000 + i % 3);
  char offset[16];
  std::snprintf(offset, sizeof offset, "%08X", 0x1000 * (i % 7 + 1));
  log.faultAddress = offset;
  log.faultModule = kModules[i % 4];
  log.stack = {{"00012345", "C:\\Ulmet\\UlmetMain.exe"}, {offset, kModules[(i + 1) % 4]}};
  // A few kilobytes of text, Korean ("울메 오류") in every third.
  log.extra = "report " + std::to_string(i) + "\n";
  const std::string line = i % 3 == 0 ? "\xBF\xEF\xB8\xDE \xBF\xC0\xB7\xF9 line & 100% <done>\n"
                                      : "registers: EAX=00000000 EBX=7FFDF000 ECX=0012FF44\n";
  for (int n = 0; n < 20 + i % 80; ++n) log.extra += line;
  return tb::FormatCrashLog(log);
}

std::string LoadBody(const std::string& prefix, int i) {
  const std::string log = LoadLog(i);
  CrashLogFields fields;
  std::FILE* f = fmemopen(const_cast<char*>(log.data()), log.size(), "r");
  ParseCrashLogStream(f, fields.fadd, fields.fmod, fields.ladd, fields.lmod, fields.ver);
  std::fclose(f);
  return BuildCrashReportBody(LoadUid(prefix, i).c_str(), fields, log.data(), log.size());
}

LoadResult RunLoad(const LoadPlan& plan, std::atomic<int>* acked) {
  LoadResult result;
  result.acked.assign(static_cast<std::size_t>(plan.posts), 0);
  std::atomic<int> next{0};
  std::mutex mutex;
  const double start = Now();
  const double deadline = start + plan.timeLimitS;
  auto sender = [&] {
    httplib::Client client(plan.host, plan.port);
    client.set_keep_alive(false);
    client.set_connection_timeout(5, 0);
    client.set_read_timeout(30, 0);
    std::vector<double> latencies;
    int attempts = 0, unanswered = 0, refused = 0, done = 0;
    for (int i; (i = next++) < plan.posts;) {
      const std::string body = plan.log.empty() ? LoadBody(plan.uidPrefix, i)
                                                : PostOfLog(LoadUid(plan.uidPrefix, i),
                                                            plan.log + "post " + std::to_string(i) + "\n");
      bool ok = false;
      while (!ok && Now() < deadline) {
        const double t0 = Now();
        auto res = client.Post(plan.path.c_str(), body, "application/x-www-form-urlencoded");
        ++attempts;
        if (res && res->status == 200) {
          ok = true;
          latencies.push_back((Now() - t0) * 1000);
        } else {
          ++(res ? refused : unanswered);
          std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
      }
      if (!ok) break;
      ++done;
      result.acked[static_cast<std::size_t>(i)] = 1;  // one writer per element
      if (acked != nullptr) ++*acked;
    }
    std::lock_guard<std::mutex> lock(mutex);
    result.acknowledged += done;
    result.attempts += attempts;
    result.unanswered += unanswered;
    result.refused += refused;
    result.latencyMs.insert(result.latencyMs.end(), latencies.begin(), latencies.end());
  };
  std::vector<std::thread> threads;
  for (int s = 0; s < plan.senders; ++s) threads.emplace_back(sender);
  for (auto& t : threads) t.join();
  result.seconds = Now() - start;
  return result;
}

}  // namespace ulrt
