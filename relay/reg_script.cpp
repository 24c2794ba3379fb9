#include "reg_script.h"

#include <cctype>
#include <cstdlib>
#include <cstring>

namespace bvx {

bool ExpandScript(const char* script, const ScriptReplacement* replacements, int count,
                  std::string* out) {
  out->clear();
  for (const char* p = script; *p != '\0'; ++p) {
    if (*p != '%') {
      out->push_back(*p);
      continue;
    }
    const char* end = std::strchr(p + 1, '%');
    if (!end) return false;
    if (end == p + 1) {
      out->push_back('%');
    } else {
      const std::string name(p + 1, end);
      int i = 0;
      while (i < count && name != replacements[i].name) ++i;
      if (i == count) return false;
      out->append(replacements[i].value);
    }
    p = end;
  }
  return true;
}

std::string QuoteForScript(const char* text) {
  std::string quoted;
  for (const char* p = text; *p != '\0'; ++p) {
    quoted.push_back(*p);
    if (*p == '\'') quoted.push_back('\'');
  }
  return quoted;
}

namespace {

struct Token {
  std::string text;
  bool quoted = false;
  int line = 0;
};

bool Tokenize(const std::string& s, std::vector<Token>* tokens, std::string* error) {
  int line = 1;
  std::size_t i = 0;
  while (i < s.size()) {
    const char c = s[i];
    if (c == '\n') ++line;
    if (std::isspace(static_cast<unsigned char>(c))) {
      ++i;
      continue;
    }
    Token t;
    t.line = line;
    if (c == '\'') {
      t.quoted = true;
      ++i;
      for (;;) {
        if (i >= s.size()) {
          *error = "unclosed quote on line " + std::to_string(t.line);
          return false;
        }
        if (s[i] == '\'') {
          if (i + 1 < s.size() && s[i + 1] == '\'') {
            t.text.push_back('\'');
            i += 2;
            continue;
          }
          ++i;
          break;
        }
        if (s[i] == '\n') ++line;
        t.text.push_back(s[i++]);
      }
    } else {
      while (i < s.size() && !std::isspace(static_cast<unsigned char>(s[i]))) {
        t.text.push_back(s[i++]);
      }
    }
    tokens->push_back(t);
  }
  return true;
}

class Parser {
 public:
  Parser(const std::vector<Token>& tokens, std::string* error) : t_(tokens), error_(error) {}

  bool Script(std::vector<ScriptRoot>* roots) {
    while (pos_ < t_.size()) {
      ScriptRoot root;
      if (IsSymbol("{") || IsSymbol("}") || IsSymbol("=")) return Fail("hive name expected");
      root.hive = t_[pos_++].text;
      if (!Expect("{")) return false;
      if (!Block(&root.keys, nullptr)) return false;
      roots->push_back(root);
    }
    return true;
  }

 private:
  bool AtEnd() const { return pos_ >= t_.size(); }
  bool IsSymbol(const char* s) const { return !AtEnd() && !t_[pos_].quoted && t_[pos_].text == s; }
  bool IsWord(const char* s) const {
    if (AtEnd() || t_[pos_].quoted) return false;
    const std::string& w = t_[pos_].text;
    if (w.size() != std::strlen(s)) return false;
    for (std::size_t i = 0; i < w.size(); ++i) {
      if (std::tolower(static_cast<unsigned char>(w[i])) != std::tolower(static_cast<unsigned char>(s[i]))) {
        return false;
      }
    }
    return true;
  }
  bool Fail(const std::string& what) {
    *error_ = what + (AtEnd() ? std::string(" at the end") : " on line " + std::to_string(t_[pos_].line));
    return false;
  }
  bool Expect(const char* s) {
    if (!IsSymbol(s)) return Fail(std::string("'") + s + "' expected");
    ++pos_;
    return true;
  }
  bool Name(std::string* name) {
    if (AtEnd() || IsSymbol("{") || IsSymbol("}") || IsSymbol("=")) return Fail("name expected");
    *name = t_[pos_++].text;
    return true;
  }
  // "= s 'text'" or "= d 'number'".
  bool Assignment(ScriptValue* v) {
    if (!Expect("=")) return false;
    if (IsWord("s")) {
      v->type = 's';
    } else if (IsWord("d")) {
      v->type = 'd';
    } else {
      return Fail("value type s or d expected");
    }
    ++pos_;
    if (AtEnd() || IsSymbol("{") || IsSymbol("}")) return Fail("value expected");
    const std::string& text = t_[pos_].text;
    if (v->type == 's') {
      v->text = text;
    } else {
      char* end = nullptr;
      v->number = std::strtoul(text.c_str(), &end, 0);
      if (text.empty() || *end != '\0') return Fail("number expected");
    }
    ++pos_;
    return true;
  }
  // Entries up to and including the closing brace. Named values are allowed
  // only inside a key (owner not null).
  bool Block(std::vector<ScriptKey>* keys, ScriptKey* owner) {
    for (;;) {
      if (AtEnd()) return Fail("'}' expected");
      if (IsSymbol("}")) {
        ++pos_;
        return true;
      }
      if (IsWord("val")) {
        if (!owner) return Fail("named value outside a key");
        ++pos_;
        ScriptValue v;
        if (!Name(&v.name) || !Assignment(&v)) return false;
        owner->values.push_back(v);
        continue;
      }
      ScriptKey key;
      if (IsWord("NoRemove")) {
        key.removal = ScriptKey::kNoRemove;
        ++pos_;
      } else if (IsWord("ForceRemove")) {
        key.removal = ScriptKey::kForceRemove;
        ++pos_;
      }
      if (!Name(&key.name)) return false;
      if (IsSymbol("=")) {
        key.hasDefault = true;
        if (!Assignment(&key.defaultValue)) return false;
      }
      if (IsSymbol("{")) {
        ++pos_;
        if (!Block(&key.children, &key)) return false;
      }
      keys->push_back(key);
    }
  }

  const std::vector<Token>& t_;
  std::string* error_;
  std::size_t pos_ = 0;
};

}  // namespace

bool ParseScript(const std::string& text, std::vector<ScriptRoot>* roots, std::string* error) {
  roots->clear();
  std::vector<Token> tokens;
  if (!Tokenize(text, &tokens, error)) return false;
  Parser parser(tokens, error);
  return parser.Script(roots);
}

}  // namespace bvx
