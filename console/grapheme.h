// Grapheme clusters: what a reader takes for one character, found by Unicode's rules for extended
// grapheme clusters (UAX #29): a letter with its accents and vowel signs, a Hangul syllable made
// of jamo, a flag of two regional indicators, an emoji with its skin tone, or emoji joined by
// ZWJ into one. Backspace erases one cluster at a time.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

// Unicode's Grapheme_Cluster_Break values. Extended_Pictographic, a property of its own, is one
// more value here: all its characters are Other.
enum class GraphemeBreak : uint8_t {
  kOther,
  kCR,
  kLF,
  kControl,
  kExtend,
  kZWJ,
  kRegionalIndicator,
  kPrepend,
  kSpacingMark,
  kL,
  kV,
  kT,
  kLV,
  kLVT,
  kExtendedPictographic,
};

GraphemeBreak GraphemeBreakOf(char32_t codepoint);

// What is known of a text's first `end` bytes, kept from one LastClusterLength to the next so
// that erasing cluster after cluster looks back over a long run only once: which regional
// indicators pair up into flags depends on how many come before them, and a joiner joins an emoji
// only to an emoji before it.
struct ClusterLookBack {
  size_t end = 0;
  size_t regional_indicators = 0;  // how many end those bytes
  bool pictographic = false;       // whether they end in an Extended_Pictographic, then Extend*
};

// Length in bytes of the last grapheme cluster of a non-empty UTF-8 text, looking back only as
// far as the cluster and the runs its rules depend on. Unicode's rules with one change: a
// character that takes no cells (a mark or joiner after a control, a Hangul vowel or final jamo
// after a character it does not join, an invisible format character) goes with the character
// before it, on which the screen draws it, never alone. Bytes that are not UTF-8 are U+FFFD,
// split into characters as the screen splits them.
//
// `look_back`, when given, is what an earlier call left there, or a new one; between calls the
// caller cuts each cluster found off the text and only appends to it.
size_t LastClusterLength(std::string_view text, ClusterLookBack* look_back = nullptr);
