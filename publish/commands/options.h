// The one reader of a command's words: a table of the options it takes,
// read the same way for every command. "--help" (or "-h") prints the
// command's usage; "--name value" and "--name=value" both give a value; a
// mistake is said once, under the command's name, and ends the program with
// exit code 2.
#pragma once

#include <string>
#include <vector>

namespace ulp {

class Options {
 public:
  explicit Options(const char* command, const char* usage) : command_(command), usage_(usage) {}

  // A switch: present sets *to to value.
  Options& Flag(const char* name, bool* to, bool value = true);
  // A value; required ones must be given.
  Options& Text(const char* name, std::string* to, bool required = false);
  Options& Text(const char* name, const char** to, bool required = false);
  // A value that may be given many times, each appended.
  Options& Texts(const char* name, std::vector<std::string>* to);
  // A whole number from lo to hi.
  Options& Number(const char* name, long lo, long hi, int* to);
  // The words that are no option, at most most of them.
  Options& Words(const char* what, std::vector<std::string>* to, std::size_t most);

  // Reads the words after the command's name. False when the program ends
  // here: *code 0 after --help, 2 after a mistake (said on stderr).
  bool Read(int argc, char** argv, int* code) const;

 private:
  enum Kind { kFlag, kText, kTextPointer, kTexts, kNumber };
  struct Option {
    const char* name;
    Kind kind;
    void* to;
    bool value;  // kFlag: what it sets; kText: required
    long lo, hi;
  };
  bool Take(const Option& o, const char* value, std::vector<bool>* given) const;
  const Option* Find(const std::string& name) const;
  bool Wrong(const std::string& text, int* code) const;

  const char* command_;
  const char* usage_;
  std::vector<Option> options_;
  const char* wordsWhat_ = nullptr;
  std::vector<std::string>* words_ = nullptr;
  std::size_t mostWords_ = 0;
};

}  // namespace ulp
