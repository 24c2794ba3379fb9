// The registration script: a small text that says which registry keys and
// values the component writes when it is registered and removes when it is
// unregistered. This file reads the text into a tree; applying the tree to
// the registry is Windows code (registrar_win.cpp). No Windows API here.
//
// Notation:
//   HKCR
//   {
//       Name = s 'default text'          key with a default string value
//       {
//           Sub = s 'text'               sub key
//           val Named = s 'text'         named value (s: string, d: number)
//           'Quoted name'                key without a value
//       }
//       NoRemove Parent { ... }          never deleted on unregister
//       ForceRemove Child = s 'x'        deleted with everything below it
//   }                                    before it is written, and on
//                                        unregister
// Names and values may be quoted with single quotes; a quote inside a quoted
// text is written twice. %NAME% in the text is replaced before reading
// (ExpandScript); %% stands for one percent sign.
#pragma once

#include <string>
#include <vector>

namespace bvx {

struct ScriptValue {
  std::string name;      // empty for a key's default value
  char type = 's';       // 's': string, 'd': 32-bit number
  std::string text;      // for 's'
  unsigned long number = 0;  // for 'd'
};

struct ScriptKey {
  enum Removal { kPlain, kNoRemove, kForceRemove };
  Removal removal = kPlain;
  std::string name;
  bool hasDefault = false;
  ScriptValue defaultValue;
  std::vector<ScriptValue> values;
  std::vector<ScriptKey> children;
};

struct ScriptRoot {
  std::string hive;  // as written, e.g. "HKCR"
  std::vector<ScriptKey> keys;
};

struct ScriptReplacement {
  const char* name;   // without the percent signs
  const char* value;  // inserted as it stands
};

// Replaces every %NAME% of script by its value. Fails (false) on a name
// without a replacement or an unclosed percent sign.
bool ExpandScript(const char* script, const ScriptReplacement* replacements, int count,
                  std::string* out);

// The text with every single quote doubled, for insertion into a quoted
// script text.
std::string QuoteForScript(const char* text);

// Reads an expanded script. On failure returns false and describes the
// problem in *error.
bool ParseScript(const std::string& text, std::vector<ScriptRoot>* roots, std::string* error);

}  // namespace bvx
