// The places of a crash log over any bytes: the fault first when there is
// one, at most kMaxFrames stack lines, every module a line's last part
// without a backslash, and the resolved frames' text reads back as written.
#include "symbols/crash_stack.h"

#include <string>

#include "fuzz_support.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string log(reinterpret_cast<const char*>(data), size);
  const std::vector<ulr::CrashPlace> places = ulr::ReadCrashPlaces(log);
  FUZZ_CHECK(places.size() <= ulr::kMaxFrames + 1, fuzz::Shown(log));
  std::vector<ulr::Resolved> frames;
  for (std::size_t i = 0; i < places.size(); ++i) {
    FUZZ_CHECK(places[i].fault == (i == 0 && places[i].fault), "the fault is first, once");
    FUZZ_CHECK(places[i].module.find('\\') == std::string::npos, places[i].module);
    FUZZ_CHECK(places[i].line.find('\n') == std::string::npos, places[i].line);
    FUZZ_CHECK(log.find(places[i].line) != std::string::npos, places[i].line);
    ulr::Resolved r;
    r.function = places[i].line.substr(0, 40);
    r.functionOffset = static_cast<std::int64_t>(places[i].offset) - 1;
    r.file = places[i].module;
    r.line = static_cast<int>(places[i].section);
    frames.push_back(r);
  }
  std::vector<ulr::Resolved> back;
  FUZZ_CHECK(ulr::ReadResolved(ulr::WriteResolved(frames), &back) && back.size() == frames.size(), "round trip");
  for (std::size_t i = 0; i < back.size(); ++i) {
    FUZZ_CHECK(back[i].functionOffset == frames[i].functionOffset && back[i].line == frames[i].line, "numbers");
    FUZZ_CHECK(back[i].function.size() == std::min<std::size_t>(frames[i].function.size(), 1024), back[i].function);
  }
  return 0;
}
