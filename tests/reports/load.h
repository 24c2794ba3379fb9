// Many updaters posting at once: senders in threads, each post a crash
// report as the updater builds it, on a connection of its own. A post that
// got no answer (the receiver was down) is sent again, as the updater does
// on its next run, until it is answered or the time is up.
#pragma once

#include <atomic>
#include <string>
#include <vector>

namespace ulrt {

struct LoadPlan {
  std::string host = "127.0.0.1";
  int port = 80;
  std::string path = "/report";
  int senders = 50;
  int posts = 20000;
  std::string uidPrefix = "load";
  double timeLimitS = 110;
  // When not empty, every post carries this log (with a line of its own
  // number after it, so that each is a report of its own) instead of LoadLog's.
  std::string log;
};

struct LoadResult {
  int acknowledged = 0;  // answered 200
  int attempts = 0;      // posts sent, again-sent ones included
  int unanswered = 0;    // attempts without an answer
  int refused = 0;       // attempts answered with another status
  double seconds = 0;
  std::vector<double> latencyMs;  // of every acknowledged attempt
  std::vector<char> acked;        // by post number: 1 once acknowledged
  double PerSecond() const { return seconds > 0 ? acknowledged / seconds : 0; }
  double PercentileMs(double p) const;
};

// Post number i of a load: the log (as it lies on the player's disk), and
// the body the updater sends for it. The uid is prefix-i; logs vary in
// size and in seven signatures, some with Korean text.
std::string LoadLog(int i);
std::string LoadUid(const std::string& prefix, int i);
std::string LoadBody(const std::string& prefix, int i);

// Runs the plan; acked counts acknowledged posts as they come.
LoadResult RunLoad(const LoadPlan& plan, std::atomic<int>* acked = nullptr);

}  // namespace ulrt
