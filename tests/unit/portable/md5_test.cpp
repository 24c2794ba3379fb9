#include "formats/trust/md5.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "portable_support.h"

namespace {

using testsupport::Md5Hex;

TEST(Md5, Rfc1321TestSuite) {
  EXPECT_EQ(Md5Hex(""), "d41d8cd98f00b204e9800998ecf8427e");
  EXPECT_EQ(Md5Hex("a"), "0cc175b9c0f1b6a831c399e269772661");
  EXPECT_EQ(Md5Hex("abc"), "900150983cd24fb0d6963f7d28e17f72");
  EXPECT_EQ(Md5Hex("message digest"), "f96b697d7cb7938d525a2f31aaf161d0");
  EXPECT_EQ(Md5Hex("abcdefghijklmnopqrstuvwxyz"), "c3fcd3d76192e4007dfb496cca67e13b");
  EXPECT_EQ(Md5Hex("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789"),
            "d174ab98d277d9f5a5611c2c9f419d9f");
  EXPECT_EQ(Md5Hex("1234567890123456789012345678901234567890"
                "1234567890123456789012345678901234567890"),
            "57edf4a22be3c955ac49da2e2107b67a");
}

TEST(Md5, PaddingBoundariesAndPiecewiseUpdates) {
  // Lengths around the 56-byte padding limit and the 64-byte block, fed in
  // one piece and byte by byte, must agree; 55/56/63/64 pin known values.
  EXPECT_EQ(Md5Hex(std::string(55, 'a')), "ef1772b6dff9a122358552954ad0df65");
  EXPECT_EQ(Md5Hex(std::string(56, 'a')), "3b0c8ac703f828b04c6c197006d17218");
  EXPECT_EQ(Md5Hex(std::string(63, 'a')), "b06521f39153d618550606be297466d5");
  EXPECT_EQ(Md5Hex(std::string(64, 'a')), "014842d480b571495a4a0363793f7367");
  const std::string data = testsupport::PatternBytes(300);
  for (std::size_t len = 0; len <= data.size(); len += 7) {
    Md5 md5;
    for (std::size_t i = 0; i < len; ++i) md5.Update(&data[i], 1);
    unsigned char piecewise[16];
    md5.Final(piecewise);
    Md5 whole;
    whole.Update(data.data(), len);
    unsigned char once[16];
    whole.Final(once);
    EXPECT_EQ(std::memcmp(piecewise, once, 16), 0) << "length " << len;
  }
  // Init makes an object reusable.
  Md5 md5;
  md5.Update("garbage", 7);
  md5.Init();
  md5.Update("abc", 3);
  unsigned char d[16];
  md5.Final(d);
  EXPECT_EQ(d[0], 0x90);
  EXPECT_EQ(d[15], 0x72);
}

}  // namespace
