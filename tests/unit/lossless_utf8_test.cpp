#include "text/lossless_utf8.h"

#include <gtest/gtest.h>

namespace {

struct DecodeCase {
  std::string bytes;
  WideText text;
};

const DecodeCase kDecodeCases[] = {
    {"", L""},
    {"plain", L"plain"},
    {"\xc3\xa9t\xc3\xa9", L"\u00e9t\u00e9"},
    {"\xe4\xb8\xad", L"\u4e2d"},
    {"\xf0\x9f\x98\x80", L"\U0001F600"},
    {"\xff", L"\xdcff"},                                // never valid in UTF-8
    {"a\x80z", L"a\xdc80z"},                            // lone continuation byte
    {"\xc3", L"\xdcc3"},                                // cut-off sequence
    {"\xc0\xaf", L"\xdcc0\xdcaf"},                      // overlong form of '/'
    {"\xed\xa0\x80", L"\xdced\xdca0\xdc80"},            // an encoded surrogate
    {"\xf4\x90\x80\x80", L"\xdcf4\xdc90\xdc80\xdc80"},  // beyond U+10FFFF
    {"\xe4\xb8", L"\xdce4\xdcb8"},
};

TEST(LosslessUtf8, DecodesValidTextAndEscapesEveryOtherByte) {
  for (const DecodeCase& c : kDecodeCases) {
    EXPECT_EQ(DecodeLossless(c.bytes), c.text) << testing::PrintToString(c.bytes);
    EXPECT_EQ(EncodeLossless(c.text), c.bytes) << testing::PrintToString(c.bytes);
  }
}

TEST(LosslessUtf8, RoundTripsEveryByteValueAndPair) {
  for (int first = 0; first < 256; ++first) {
    for (int second = 0; second < 256; ++second) {
      const std::string bytes{static_cast<char>(first), static_cast<char>(second), 'x'};
      ASSERT_EQ(EncodeLossless(DecodeLossless(bytes)), bytes) << first << " " << second;
    }
  }
}

TEST(LosslessUtf8, EncodesWhatNoDecodingGivesAsReplacementCharacter) {
  EXPECT_EQ(EncodeLossless(L"\xd800"), "\xef\xbf\xbd");
  EXPECT_EQ(EncodeLossless(L"\xdc7f"), "\xef\xbf\xbd");
}

}  // namespace
