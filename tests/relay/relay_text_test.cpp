// The relay's text handling: the message's tokens, the window title, the
// product name test.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

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

  bvx::SplitMessageTokens("CONTENTS", &t);
  EXPECT_EQ(t.second, nullptr);

  // Only the first two tokens count, exactly and case-sensitively.
  struct {
    const char* text;
    bool content, start;
  } cases[] = {
      {"CONTENTS\fSTOP\fSTART", true, false}, {"CONTENTS", true, false},
      {"contents\fSTART", false, false},      {"CONTENTSX\fSTART", false, false},
      {"CONTENTS \fSTART", false, false},     {"START\fCONTENTS", false, false},
      {"CONTENTS\fStart", true, false},       {"CONTENTS\fSTARTED", true, false},
  };
  for (const auto& c : cases) {
    bvx::SplitMessageTokens(c.text, &t);
    EXPECT_EQ(bvx::IsContentRequest(t), c.content) << c.text;
    EXPECT_EQ(bvx::IsStartRequest(t), c.start) << c.text;
  }
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
  struct {
    const char* title;
    bvx::LeadBytePredicate lead;
    bool client;  // searched as "Ulmet"; else the title itself is searched
  } cases[] = {
      {"Ulmet3.0", KoreanLead, true},
      {"\xBF\xEF\xB8\xDE Ulmet3.0 Beta page", KoreanLead, true},
      {"Ulmet3 page", KoreanLead, false},
      {"ulmet3.0", KoreanLead, false},
      // 'U' as the second byte of a two-byte character does not start the marker.
      {"\xB0Ulmet3.0", KoreanLead, false},
      {"\xB0Ulmet3.0", nullptr, true},
      {"\xB0\xA1Ulmet3.0", KoreanLead, true},
  };
  for (const auto& c : cases) {
    const char* found = bvx::WindowTitleToFind(c.title, c.lead);
    if (c.client) {
      EXPECT_STREQ(found, "Ulmet") << c.title;
    } else {
      EXPECT_EQ(found, c.title) << c.title;
    }
  }
}

TEST(RelayText, ProductNameTest) {
  struct {
    const char* name;
    const char* upper;
    bool vista;
  } cases[] = {
      {"Microsoft Windows Vista (TM) Home", "MICROSOFT WINDOWS VISTA (TM) HOME", true},
      {"vIsTa", "VISTA", true},
      {"Microsoft Windows 7", "MICROSOFT WINDOWS 7", false},
      // Second bytes of two-byte characters are letters of another
      // alphabet: they stay as they are.
      {"\xB0vista\xC1w", "\xB0vISTA\xC1w", false},
  };
  for (const auto& c : cases) {
    char name[64];
    bvx::CopyBounded(name, sizeof name, c.name);
    bvx::UpperAscii(name, KoreanLead);
    EXPECT_STREQ(name, c.upper) << c.name;
    EXPECT_EQ(bvx::NamesVista(name, KoreanLead), c.vista) << c.name;
  }
}

}  // namespace
