// The registration script reader. Whatever it accepts, written back out in
// a canonical form (every name and text quoted), it reads again as the same
// tree; what it refuses it describes. Any text quoted for a script comes back
// unchanged as a key name and as a value, and the expansion of %NAME% agrees
// with a model written here.
#include "reg_script.h"

#include <fuzzer/FuzzedDataProvider.h>

#include <cstring>
#include <string>
#include <vector>

#include "fuzz_support.h"

namespace {

using bvx::ScriptKey;
using bvx::ScriptRoot;
using bvx::ScriptValue;

std::string Quoted(const std::string& text) {
  return "'" + bvx::QuoteForScript(text.c_str()) + "'";
}

std::string Value(const ScriptValue& v) {
  return v.type == 's' ? " = s " + Quoted(v.text) : " = d '" + std::to_string(v.number) + "'";
}

void WriteKey(const ScriptKey& key, std::string* out) {
  if (key.removal == ScriptKey::kNoRemove) *out += "NoRemove ";
  if (key.removal == ScriptKey::kForceRemove) *out += "ForceRemove ";
  *out += Quoted(key.name);
  if (key.hasDefault) *out += Value(key.defaultValue);
  *out += "\n{\n";
  for (const ScriptValue& v : key.values) *out += "val " + Quoted(v.name) + Value(v) + "\n";
  for (const ScriptKey& child : key.children) WriteKey(child, out);
  *out += "}\n";
}

std::string Write(const std::vector<ScriptRoot>& roots) {
  std::string out;
  for (const ScriptRoot& root : roots) {
    out += Quoted(root.hive) + "\n{\n";
    for (const ScriptKey& key : root.keys) WriteKey(key, &out);
    out += "}\n";
  }
  return out;
}

bool SameValue(const ScriptValue& a, const ScriptValue& b) {
  return a.name == b.name && a.type == b.type &&
         (a.type == 's' ? a.text == b.text : a.number == b.number);
}

bool SameKey(const ScriptKey& a, const ScriptKey& b) {
  if (a.removal != b.removal || a.name != b.name || a.hasDefault != b.hasDefault) return false;
  if (a.hasDefault && !SameValue(a.defaultValue, b.defaultValue)) return false;
  if (a.values.size() != b.values.size() || a.children.size() != b.children.size()) return false;
  for (std::size_t i = 0; i < a.values.size(); ++i) {
    if (!SameValue(a.values[i], b.values[i])) return false;
  }
  for (std::size_t i = 0; i < a.children.size(); ++i) {
    if (!SameKey(a.children[i], b.children[i])) return false;
  }
  return true;
}

bool SameRoots(const std::vector<ScriptRoot>& a, const std::vector<ScriptRoot>& b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (a[i].hive != b[i].hive || a[i].keys.size() != b[i].keys.size()) return false;
    for (std::size_t k = 0; k < a[i].keys.size(); ++k) {
      if (!SameKey(a[i].keys[k], b[i].keys[k])) return false;
    }
  }
  return true;
}

const bvx::ScriptReplacement kReplacements[] = {{"MODULE", "C:\\Ulmet\\bvx.dll"}, {"CLSID", "{1}"}};

// %NAME% replaced, %% one percent sign; false for an unknown name or an
// unclosed percent sign.
bool ExpandModel(const std::string& script, std::string* out) {
  out->clear();
  std::size_t i = 0;
  while (i < script.size()) {
    const std::size_t open = script.find('%', i);
    if (open == std::string::npos) {
      *out += script.substr(i);
      break;
    }
    *out += script.substr(i, open - i);
    const std::size_t close = script.find('%', open + 1);
    if (close == std::string::npos) return false;
    const std::string name = script.substr(open + 1, close - open - 1);
    if (name.empty()) {
      *out += '%';
    } else if (name == "MODULE" || name == "CLSID") {
      *out += name == "MODULE" ? kReplacements[0].value : kReplacements[1].value;
    } else {
      return false;
    }
    i = close + 1;
  }
  return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  FuzzedDataProvider in(data, size);
  std::string name = in.ConsumeRandomLengthString(64);
  name.resize(std::strlen(name.c_str()));
  std::string script = in.ConsumeRemainingBytesAsString();
  script.resize(std::strlen(script.c_str()));

  // Quoting round trip.
  std::vector<ScriptRoot> roots;
  std::string error;
  const std::string quotedScript = "HKCR\n{\n" + Quoted(name) + " = s " + Quoted(name) + "\n}\n";
  FUZZ_CHECK(bvx::ParseScript(quotedScript, &roots, &error), quotedScript + " / " + error);
  FUZZ_CHECK(roots.size() == 1 && roots[0].keys.size() == 1 && roots[0].keys[0].name == name &&
                 roots[0].keys[0].defaultValue.text == name,
             quotedScript);

  // Expansion.
  std::string expanded, modelled;
  const bool expandedOk = bvx::ExpandScript(script.c_str(), kReplacements, 2, &expanded);
  FUZZ_CHECK(expandedOk == ExpandModel(script, &modelled), script);
  if (expandedOk) FUZZ_CHECK(expanded == modelled, script);

  // Reading, and reading again what was written back.
  error.clear();
  if (!bvx::ParseScript(script, &roots, &error)) {
    FUZZ_CHECK(!error.empty(), script);
    return 0;
  }
  const std::string written = Write(roots);
  std::vector<ScriptRoot> again;
  FUZZ_CHECK(bvx::ParseScript(written, &again, &error), written + " / " + error);
  FUZZ_CHECK(SameRoots(roots, again), script + " => " + written);
  return 0;
}
