// The registration script reader: expansion of the module path, keys,
// values and removal marks, and broken scripts.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "reg_script.h"

namespace {

TEST(RegScript, ExpandsModuleAndPercent) {
  const bvx::ScriptReplacement r[] = {{"MODULE", "C:\\A\\bvx.dll"}};
  std::string out;
  ASSERT_TRUE(bvx::ExpandScript("x = s '%MODULE%' 100%% '%MODULE%'", r, 1, &out));
  EXPECT_EQ(out, "x = s 'C:\\A\\bvx.dll' 100% 'C:\\A\\bvx.dll'");
  EXPECT_FALSE(bvx::ExpandScript("x = s '%OTHER%'", r, 1, &out));
  EXPECT_FALSE(bvx::ExpandScript("x = s '%MODULE", r, 1, &out));
}

TEST(RegScript, QuotedModulePathSurvivesRoundTrip) {
  const char* path = "C:\\It's here\\''\\bvx.dll";
  const std::string quoted = bvx::QuoteForScript(path);
  EXPECT_EQ(quoted, "C:\\It''s here\\''''\\bvx.dll");
  const bvx::ScriptReplacement r[] = {{"MODULE", quoted.c_str()}};
  std::string text;
  ASSERT_TRUE(bvx::ExpandScript("HKCR { InprocServer32 = s '%MODULE%' }", r, 1, &text));
  std::vector<bvx::ScriptRoot> roots;
  std::string error;
  ASSERT_TRUE(bvx::ParseScript(text, &roots, &error)) << error;
  ASSERT_EQ(roots.size(), 1u);
  ASSERT_EQ(roots[0].keys.size(), 1u);
  EXPECT_TRUE(roots[0].keys[0].hasDefault);
  EXPECT_EQ(roots[0].keys[0].defaultValue.text, path);
}

TEST(RegScript, ReadsKeysValuesAndRemovalMarks) {
  const char* script =
      "HKCR\n"
      "{\n"
      "  Prog.Id = s 'Some Class'\n"
      "  {\n"
      "    CLSID = s '{1234}'\n"
      "  }\n"
      "  NoRemove CLSID\n"
      "  {\n"
      "    ForceRemove {1234} = s 'Some Class'\n"
      "    {\n"
      "      forceremove 'Programmable'\n"
      "      InprocServer32 = s 'C:\\x.dll'\n"
      "      {\n"
      "        val ThreadingModel = s 'Apartment'\n"
      "        val Count = d '0x10'\n"
      "      }\n"
      "      'NoRemove' = s 'a name, not a mark'\n"
      "    }\n"
      "  }\n"
      "}\n"
      "HKLM { Software { Empty } }\n";
  std::vector<bvx::ScriptRoot> roots;
  std::string error;
  ASSERT_TRUE(bvx::ParseScript(script, &roots, &error)) << error;
  ASSERT_EQ(roots.size(), 2u);
  EXPECT_EQ(roots[0].hive, "HKCR");
  ASSERT_EQ(roots[0].keys.size(), 2u);

  const bvx::ScriptKey& prog = roots[0].keys[0];
  EXPECT_EQ(prog.name, "Prog.Id");
  EXPECT_EQ(prog.removal, bvx::ScriptKey::kPlain);
  EXPECT_EQ(prog.defaultValue.text, "Some Class");
  ASSERT_EQ(prog.children.size(), 1u);
  EXPECT_EQ(prog.children[0].defaultValue.text, "{1234}");

  const bvx::ScriptKey& clsid = roots[0].keys[1];
  EXPECT_EQ(clsid.removal, bvx::ScriptKey::kNoRemove);
  EXPECT_FALSE(clsid.hasDefault);
  ASSERT_EQ(clsid.children.size(), 1u);
  const bvx::ScriptKey& cls = clsid.children[0];
  EXPECT_EQ(cls.name, "{1234}");
  EXPECT_EQ(cls.removal, bvx::ScriptKey::kForceRemove);
  ASSERT_EQ(cls.children.size(), 3u);
  EXPECT_EQ(cls.children[0].name, "Programmable");
  EXPECT_EQ(cls.children[0].removal, bvx::ScriptKey::kForceRemove);
  EXPECT_FALSE(cls.children[0].hasDefault);
  const bvx::ScriptKey& inproc = cls.children[1];
  ASSERT_EQ(inproc.values.size(), 2u);
  EXPECT_EQ(inproc.values[0].name, "ThreadingModel");
  EXPECT_EQ(inproc.values[0].type, 's');
  EXPECT_EQ(inproc.values[0].text, "Apartment");
  EXPECT_EQ(inproc.values[1].type, 'd');
  EXPECT_EQ(inproc.values[1].number, 16u);
  EXPECT_EQ(cls.children[2].name, "NoRemove");
  EXPECT_EQ(cls.children[2].removal, bvx::ScriptKey::kPlain);

  ASSERT_EQ(roots[1].keys.size(), 1u);
  ASSERT_EQ(roots[1].keys[0].children.size(), 1u);
  EXPECT_EQ(roots[1].keys[0].children[0].name, "Empty");
}

TEST(RegScript, RejectsBrokenScripts) {
  const char* broken[] = {
      "HKCR { Key = s 'value' ",          // no closing brace
      "HKCR { Key = s 'unclosed }",       // open quote
      "HKCR { Key = x 'value' }",         // unknown type
      "HKCR { Key = s }",                 // no value
      "HKCR { Key = d 'twelve' }",        // not a number
      "HKCR { val Name = s 'v' }",        // named value outside a key
      "HKCR Key = s 'v'",                 // no block after the hive
      "{ Key }",                          // no hive
      "HKCR { NoRemove }",                // mark without a name
  };
  for (const char* s : broken) {
    std::vector<bvx::ScriptRoot> roots;
    std::string error;
    EXPECT_FALSE(bvx::ParseScript(s, &roots, &error)) << s;
    EXPECT_FALSE(error.empty()) << s;
  }
}

}  // namespace
