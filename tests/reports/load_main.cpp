// The load of the crash report bench: N posts from S senders against a
// receiver (ulmet-reports or any other server that answers 200), one
// figure per line.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "harness/proc.h"
#include "load.h"

int main(int argc, char** argv) {
  ulrt::LoadPlan plan;
  for (int i = 1; i + 1 < argc; i += 2) {
    const std::string w = argv[i];
    const char* v = argv[i + 1];
    if (w == "--host") plan.host = v;
    else if (w == "--port") plan.port = std::atoi(v);
    else if (w == "--path") plan.path = v;
    else if (w == "--senders") plan.senders = std::atoi(v);
    else if (w == "--posts") plan.posts = std::atoi(v);
    else if (w == "--uid-prefix") plan.uidPrefix = v;
    else if (w == "--time-limit") plan.timeLimitS = std::atof(v);
    else if (w == "--log") plan.log = scn::ReadText(v);
    else {
      std::fprintf(stderr,
                   "usage: reports_load --host H --port P [--path /report] [--senders 50] [--posts 20000]\n"
                   "                    [--uid-prefix load] [--time-limit 110] [--log CRASH_LOG]\n");
      return 2;
    }
  }
  const ulrt::LoadResult r = ulrt::RunLoad(plan);
  std::printf("posts %d\nacknowledged %d\nunanswered %d\nrefused %d\nseconds %.3f\nposts_per_s %.1f\n"
              "p50_ms %.2f\np99_ms %.2f\n",
              plan.posts, r.acknowledged, r.unanswered, r.refused, r.seconds, r.PerSecond(), r.PercentileMs(50),
              r.PercentileMs(99));
  return r.acknowledged == plan.posts ? 0 : 1;
}
