// The relay's text handling and its registration script reader.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "object_safety.h"
#include "reg_script.h"
#include "relay_text.h"

namespace {

// Lead bytes of the Korean double-byte code page.
bool KoreanLead(unsigned char c) { return c >= 0x81 && c <= 0xFE; }

TEST(RelayTokens, FirstTwoTokensDecideTheRequest) {
  bvx::MessageTokens t;
  bvx::SplitMessageTokens("CONTENTS\fSTART\fid=7\fmore", &t);
  ASSERT_NE(t.first, nullptr);
  ASSERT_NE(t.second, nullptr);
  EXPECT_STREQ(t.first, "CONTENTS");
  EXPECT_STREQ(t.second, "START");
  EXPECT_TRUE(bvx::IsContentRequest(t));
  EXPECT_TRUE(bvx::IsStartRequest(t));

  bvx::SplitMessageTokens("CONTENTS\fSTOP\fSTART", &t);
  EXPECT_TRUE(bvx::IsContentRequest(t));
  EXPECT_FALSE(bvx::IsStartRequest(t));

  bvx::SplitMessageTokens("CONTENTS", &t);
  EXPECT_TRUE(bvx::IsContentRequest(t));
  EXPECT_EQ(t.second, nullptr);
  EXPECT_FALSE(bvx::IsStartRequest(t));

  // Exact and case-sensitive.
  for (const char* other : {"contents\fSTART", "CONTENTSX\fSTART", "CONTENTS \fSTART", "START\fCONTENTS"}) {
    bvx::SplitMessageTokens(other, &t);
    EXPECT_FALSE(bvx::IsContentRequest(t)) << other;
    EXPECT_FALSE(bvx::IsStartRequest(t)) << other;
  }
  bvx::SplitMessageTokens("CONTENTS\fStart", &t);
  EXPECT_FALSE(bvx::IsStartRequest(t));
  bvx::SplitMessageTokens("CONTENTS\fSTARTED", &t);
  EXPECT_FALSE(bvx::IsStartRequest(t));
}

TEST(RelayTokens, SeparatorRunsAndEmptyTexts) {
  bvx::MessageTokens t;
  // Leading separators and runs of them count as one, as strtok reads them.
  bvx::SplitMessageTokens("\f\fCONTENTS\f\f\fSTART", &t);
  EXPECT_TRUE(bvx::IsStartRequest(t));

  for (const char* none : {"", "\f", "\f\f\f\f"}) {
    bvx::SplitMessageTokens(none, &t);
    EXPECT_EQ(t.first, nullptr) << std::strlen(none);
    EXPECT_EQ(t.second, nullptr);
    EXPECT_FALSE(bvx::IsContentRequest(t));
  }
  bvx::SplitMessageTokens(nullptr, &t);
  EXPECT_EQ(t.first, nullptr);
}

TEST(RelayTokens, LongTextsAreCutAtTheBuffer) {
  bvx::MessageTokens t;
  // Exactly 1024 bytes fit whole.
  std::string fits = "CONTENTS\fSTART\f" + std::string(1024 - 15, 'a');
  ASSERT_EQ(fits.size(), 1024u);
  bvx::SplitMessageTokens(fits.c_str(), &t);
  EXPECT_TRUE(bvx::IsStartRequest(t));
  EXPECT_EQ(std::strlen(t.second + 6), 1024u - 15u);

  // A longer text is cut to 1024 bytes; its first tokens still decide.
  std::string big = "CONTENTS\fSTART\f" + std::string(5000, 'b');
  bvx::SplitMessageTokens(big.c_str(), &t);
  EXPECT_TRUE(bvx::IsStartRequest(t));
  const char* third = t.second + std::strlen(t.second) + 1;
  EXPECT_EQ(std::strlen(third), 1024u - 15u);

  // A first token that runs past the buffer is cut, and nothing after it
  // is seen.
  std::string longFirst = std::string(1500, 'c') + "\fCONTENTS\fSTART";
  bvx::SplitMessageTokens(longFirst.c_str(), &t);
  ASSERT_NE(t.first, nullptr);
  EXPECT_EQ(std::strlen(t.first), 1024u);
  EXPECT_EQ(t.second, nullptr);
  EXPECT_FALSE(bvx::IsContentRequest(t));

  // The cut never makes a request out of a longer token.
  std::string cutStart = "CONTENTS\f" + std::string(1015, 'S') + "START";
  bvx::SplitMessageTokens(cutStart.c_str(), &t);
  EXPECT_TRUE(bvx::IsContentRequest(t));
  EXPECT_FALSE(bvx::IsStartRequest(t));
}

// Form feeds carry a token up to the 1024-byte cut. A token that the cut
// shortened is never a command word; one that the cut left whole still is.
TEST(RelayTokens, TokenShortenedByTheCutIsNoCommandWord) {
  const std::string ff1016(1016, '\f');   // "CONTENTS" then ends at byte 1024
  const std::string ff1011(1011, '\f');   // "CONTENTS" + these + "START" = 1024
  struct Case {
    const char* what;
    std::string text;
    bool content, start;
  } cases[] = {
      {"first cut from CONTENTSX", ff1016 + "CONTENTSX", false, false},
      {"first cut, START after", ff1016 + "CONTENTSXY\fSTART", false, false},
      {"second cut from STARTX", "CONTENTS" + ff1011 + "STARTX", true, false},
      {"second cut, more after", "CONTENTS" + ff1011 + "STARTED\fid=7", true, false},
      {"first ends at the cut, separator after", ff1016 + "CONTENTS\fSTART", true, false},
      {"second ends at the cut, separator after", "CONTENTS" + ff1011 + "START\fid=7", true, true},
      {"first fills the buffer exactly", ff1016 + "CONTENTS", true, false},
      {"second fills the buffer exactly", "CONTENTS" + ff1011 + "START", true, true},
  };
  for (const auto& c : cases) {
    bvx::MessageTokens t;
    bvx::SplitMessageTokens(c.text.c_str(), &t);
    EXPECT_EQ(bvx::IsContentRequest(t), c.content) << c.what;
    EXPECT_EQ(bvx::IsStartRequest(t), c.start) << c.what;
  }
}

TEST(RelayText, BoundedCopy) {
  char small[4];
  EXPECT_EQ(bvx::CopyBounded(small, sizeof small, "abcdef"), 3u);
  EXPECT_STREQ(small, "abc");
  EXPECT_EQ(bvx::CopyBounded(small, sizeof small, nullptr), 0u);
  EXPECT_STREQ(small, "");
  char one[1] = {'x'};
  EXPECT_EQ(bvx::CopyBounded(one, 1, "abc"), 0u);
  EXPECT_EQ(one[0], '\0');
}

TEST(RelayText, TitleMarkerMapsToClientWindow) {
  EXPECT_STREQ(bvx::WindowTitleToFind("Ulmet3.0", KoreanLead), "Ulmet");
  EXPECT_STREQ(bvx::WindowTitleToFind("\xBF\xEF\xB8\xDE Ulmet3.0 Beta page", KoreanLead), "Ulmet");
  const char* other = "Ulmet3 page";
  EXPECT_EQ(bvx::WindowTitleToFind(other, KoreanLead), other);
  const char* lower = "ulmet3.0";
  EXPECT_EQ(bvx::WindowTitleToFind(lower, KoreanLead), lower);
  // 'U' as the second byte of a two-byte character does not start the marker.
  const char* trail = "\xB0Ulmet3.0";
  EXPECT_EQ(bvx::WindowTitleToFind(trail, KoreanLead), trail);
  EXPECT_STREQ(bvx::WindowTitleToFind(trail, nullptr), "Ulmet");
  EXPECT_STREQ(bvx::WindowTitleToFind("\xB0\xA1Ulmet3.0", KoreanLead), "Ulmet");
}

TEST(RelayText, ProductNameTest) {
  char name[] = "Microsoft Windows Vista (TM) Home";
  bvx::UpperAscii(name, KoreanLead);
  EXPECT_STREQ(name, "MICROSOFT WINDOWS VISTA (TM) HOME");
  EXPECT_TRUE(bvx::NamesVista(name, KoreanLead));

  char mixed[] = "vIsTa";
  bvx::UpperAscii(mixed, KoreanLead);
  EXPECT_TRUE(bvx::NamesVista(mixed, KoreanLead));

  char seven[] = "Microsoft Windows 7";
  bvx::UpperAscii(seven, KoreanLead);
  EXPECT_FALSE(bvx::NamesVista(seven, KoreanLead));

  // Second bytes of two-byte characters are letters of another alphabet:
  // they stay as they are.
  char hangul[] = "\xB0vista\xC1w";
  bvx::UpperAscii(hangul, KoreanLead);
  EXPECT_STREQ(hangul, "\xB0vISTA\xC1w");
  EXPECT_FALSE(bvx::NamesVista(hangul, KoreanLead));
}

TEST(RelaySafety, RefusesUnknownOptionBits) {
  std::uint32_t current = 2;
  EXPECT_FALSE(bvx::ApplySafetyOptions(&current, 4, 0));
  EXPECT_FALSE(bvx::ApplySafetyOptions(&current, 0x80000003u, 3));
  EXPECT_EQ(current, 2u);
  // Enabled bits outside the supported ones are not refused; they only
  // clear, and there is nothing of them to clear.
  EXPECT_TRUE(bvx::ApplySafetyOptions(&current, 1, 0xFFFFFFFCu));
  EXPECT_EQ(current, 3u);
}

// ---- registration script ----

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
