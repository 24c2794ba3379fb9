// Which page addresses from the server may reach the shell.
#include <gtest/gtest.h>

#include "formats/base/web_address.h"

namespace {

TEST(WebAddress, OnlyPlainWebAddressesPass) {
  struct Case {
    const char* text;
    bool web;
  } cases[] = {
      {"http://127.0.0.1/notice.html", true},
      {"https://www.example/notice?id=3&x=%20", true},
      {"HTTP://HOST/", true},
      {"hTTpS://host", true},
      {"http://\xB0\xF8\xC1\xF6.example/", true},  // Hangul in code page 949
      {"", false},
      {"http://", false},
      {"https://", false},
      {"http:/host/", false},
      {"http:host", false},
      {"httpx://host/", false},
      {" http://host/", false},
      {"ftp://host/file", false},
      {"file:///C:/windows/system32/calc.exe", false},
      {"C:\\windows\\system32\\calc.exe", false},
      {"calc.exe", false},
      {"\\\\host\\share\\setup.exe", false},
      {"mailto:a@b", false},
      {"javascript:alert(1)", false},
      {"http://host/\" --new-window \"file:///C:/", false},
      {"http://host/a b", false},
      {"http://host/\t", false},
      {"http://host/\x7F", false},
      {"http://host/\r\nx", false},
  };
  for (const auto& c : cases) EXPECT_EQ(ul::IsWebAddress(c.text), c.web) << c.text;
  EXPECT_FALSE(ul::IsWebAddress(nullptr));
}

}  // namespace
