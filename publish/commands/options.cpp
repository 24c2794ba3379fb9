#include "commands/options.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "commands/command_line.h"

namespace ulp {

Options& Options::Flag(const char* name, bool* to, bool value) {
  options_.push_back({name, kFlag, to, value, 0, 0});
  return *this;
}

Options& Options::Text(const char* name, std::string* to, bool required) {
  options_.push_back({name, kText, to, required, 0, 0});
  return *this;
}

Options& Options::Text(const char* name, const char** to, bool required) {
  options_.push_back({name, kTextPointer, to, required, 0, 0});
  return *this;
}

Options& Options::Texts(const char* name, std::vector<std::string>* to) {
  options_.push_back({name, kTexts, to, false, 0, 0});
  return *this;
}

Options& Options::Number(const char* name, long lo, long hi, int* to) {
  options_.push_back({name, kNumber, to, false, lo, hi});
  return *this;
}

Options& Options::Words(const char* what, std::vector<std::string>* to, std::size_t most) {
  wordsWhat_ = what;
  words_ = to;
  mostWords_ = most;
  return *this;
}

const Options::Option* Options::Find(const std::string& name) const {
  for (const Option& o : options_) {
    if (name == o.name) return &o;
  }
  return nullptr;
}

bool Options::Wrong(const std::string& text, int* code) const {
  *code = Fail(command_, kExitUsage, text + " (see --help)");
  return false;
}

// Stores one option's value (null for a flag); false when a number is out
// of its range.
bool Options::Take(const Option& o, const char* value, std::vector<bool>* given) const {
  (*given)[static_cast<std::size_t>(&o - options_.data())] = true;
  switch (o.kind) {
    case kFlag: *static_cast<bool*>(o.to) = o.value; return true;
    case kText: *static_cast<std::string*>(o.to) = value; return true;
    case kTextPointer: *static_cast<const char**>(o.to) = value; return true;
    case kTexts: static_cast<std::vector<std::string>*>(o.to)->push_back(value); return true;
    case kNumber: {
      char* end = nullptr;
      errno = 0;
      const long v = std::strtol(value, &end, 10);
      if (*value == '\0' || *end != '\0' || errno != 0 || v < o.lo || v > o.hi) return false;
      *static_cast<int*>(o.to) = static_cast<int>(v);
      return true;
    }
  }
  return false;
}

bool Options::Read(int argc, char** argv, int* code) const {
  std::vector<bool> given(options_.size(), false);
  for (int i = 0; i < argc; ++i) {
    const std::string word = argv[i];
    if (word == "--help" || word == "-h") {
      std::fputs(usage_, stdout);
      *code = kExitDone;
      return false;
    }
    if (word.size() < 2 || word[0] != '-') {
      if (words_ == nullptr || words_->size() >= mostWords_) return Wrong("unexpected '" + word + "'", code);
      words_->push_back(word);
      continue;
    }
    const std::string::size_type equals = word.find('=');
    const Option* o = Find(word.substr(0, equals));
    if (o == nullptr) return Wrong("unknown option '" + word + "'", code);
    const char* value = nullptr;
    if (o->kind != kFlag) {
      if (equals != std::string::npos) {
        value = argv[i] + equals + 1;
      } else if (i + 1 < argc) {
        value = argv[++i];
      } else {
        return Wrong(std::string(o->name) + " needs a value", code);
      }
    } else if (equals != std::string::npos) {
      return Wrong(std::string(o->name) + " takes no value", code);
    }
    if (!Take(*o, value, &given))
      return Wrong(std::string(o->name) + " takes a number from " + std::to_string(o->lo) + " to " +
                       std::to_string(o->hi),
                   code);
  }
  for (std::size_t k = 0; k < options_.size(); ++k) {
    const Option& o = options_[k];
    if ((o.kind == kText || o.kind == kTextPointer) && o.value && !given[k])
      return Wrong(std::string(o.name) + " is required", code);
  }
  if (words_ != nullptr && words_->empty() && mostWords_ > 0) return Wrong(std::string("which ") + wordsWhat_ + "?", code);
  return true;
}

}  // namespace ulp
