#include "console/utf8.h"

#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

namespace {

std::vector<size_t> ForwardSplit(std::string_view text) {
  std::vector<size_t> lengths;
  while (!text.empty()) {
    lengths.push_back(DecodeUtf8(text).length);
    text.remove_prefix(lengths.back());
  }
  return lengths;
}

std::vector<size_t> BackwardSplit(std::string text) {
  std::vector<size_t> lengths;
  while (!text.empty()) {
    lengths.insert(lengths.begin(), LastUtf8CharacterLength(text));
    text.resize(text.size() - lengths.front());
  }
  return lengths;
}

TEST(Utf8, DecodesValidAndReplacesInvalid) {
  struct Case {
    std::string bytes;
    char32_t codepoint;
    size_t length;
  };
  const Case cases[] = {
      {"A", U'A', 1},
      {"\xc3\xa9", U'é', 2},
      {"\xe2\x95\x94", U'╔', 3},
      {"\xf0\x9f\x98\x80", U'\U0001F600', 4},
      {"\xff", kReplacementCharacter, 1},
      {"\x80", kReplacementCharacter, 1},
      {"\xe2\x82"
       "A",
       kReplacementCharacter, 2},                      // cut short
      {"\xc0\x80", kReplacementCharacter, 2},          // overlong NUL
      {"\xed\xa0\x80", kReplacementCharacter, 3},      // surrogate
      {"\xf4\x90\x80\x80", kReplacementCharacter, 4},  // past U+10FFFF
  };
  for (const Case& c : cases) {
    const Utf8Character decoded = DecodeUtf8(c.bytes);
    EXPECT_EQ(decoded.codepoint, c.codepoint) << testing::PrintToString(c.bytes);
    EXPECT_EQ(decoded.length, c.length) << testing::PrintToString(c.bytes);
  }
}

// Erasing from the end must undo appending exactly, whatever the bytes, or Backspace would leave
// half a character in the line or take one too many.
TEST(Utf8, BackwardSplitMatchesForwardSplitOnArbitraryBytes) {
  std::mt19937 random(12345);
  const unsigned char interesting[] = {'a',  0x80, 0x9f, 0xbf, 0xc3, 0xc0,
                                       0xe2, 0xed, 0xf0, 0xf4, 0xf8, 0xff};
  for (int round = 0; round < 2000; ++round) {
    std::string text;
    const int length = static_cast<int>(random() % 12);
    for (int i = 0; i < length; ++i) {
      text += static_cast<char>(interesting[random() % sizeof interesting]);
    }
    EXPECT_EQ(BackwardSplit(text), ForwardSplit(text)) << testing::PrintToString(text);
  }
}

}  // namespace
