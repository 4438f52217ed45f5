#include <gtest/gtest.h>

#include "audio/decode/text.hpp"

using tovarin::audio::decode::icy_stream_title;
using tovarin::audio::decode::to_utf8;

TEST(TagText, ValidUtf8IsKept) {
  EXPECT_EQ(to_utf8("Fj\xC3\xA4rran \xE2\x82\xAC \xF0\x9F\x8E\xB5"), "Fj\xC3\xA4rran \xE2\x82\xAC \xF0\x9F\x8E\xB5");
  EXPECT_EQ(to_utf8(""), "");
}

TEST(TagText, OtherBytesAreReadAsWindows1252) {
  EXPECT_EQ(to_utf8("Caf\xE9"), "Caf\xC3\xA9");                 // Latin-1 e acute
  EXPECT_EQ(to_utf8("\x80 5"), "\xE2\x82\xAC 5");              // euro sign
  EXPECT_EQ(to_utf8("\x93quoted\x94"), "\xE2\x80\x9Cquoted\xE2\x80\x9D");
  EXPECT_EQ(to_utf8("\x81"), "\xEF\xBF\xBD");                  // undefined in 1252
  // Broken or overlong UTF-8 sequences are not UTF-8.
  EXPECT_EQ(to_utf8("\xC3("), "\xC3\x83(");
  EXPECT_EQ(to_utf8("\xC0\xAF"), "\xC3\x80\xC2\xAF");
  EXPECT_EQ(to_utf8("\xED\xA0\x80"), "\xC3\xAD\xC2\xA0\xE2\x82\xAC");  // a surrogate
  EXPECT_EQ(to_utf8(std::string("a\0b", 3)), "ab");
}

TEST(IcyTitle, ParsesTheStreamTitleField) {
  EXPECT_EQ(icy_stream_title("StreamTitle='Artist - Song';StreamUrl='';"), "Artist - Song");
  EXPECT_EQ(icy_stream_title("StreamUrl='x';StreamTitle='Rock 'n' Roll';"), "Rock 'n' Roll");
  EXPECT_EQ(icy_stream_title("StreamTitle='';"), "");
  EXPECT_EQ(icy_stream_title("StreamUrl='x';"), "");
  EXPECT_EQ(icy_stream_title(std::string("StreamTitle='cut", 16)), "cut");
  EXPECT_EQ(icy_stream_title(""), "");
}
