#include "console/grapheme.h"

#include <algorithm>
#include <iterator>

#include "console/grapheme_table.h"
#include "console/utf8.h"

namespace {

// The Hangul syllables, left out of the table: LV where no final consonant is added, which is
// every 28th, else LVT.
constexpr char32_t kFirstHangulSyllable = 0xAC00;
constexpr char32_t kLastHangulSyllable = 0xD7A3;
constexpr char32_t kHangulFinals = 28;

struct Character {
  size_t start;  // byte offset in the text
  GraphemeBreak property;
  bool takes_cells;
};

Character CharacterBefore(std::string_view text, size_t end) {
  const size_t length = LastUtf8CharacterLength(text.substr(0, end));
  const char32_t codepoint = DecodeUtf8(text.substr(end - length, length)).codepoint;
  return {end - length, GraphemeBreakOf(codepoint), CellWidth(VisibleCodepoint(codepoint)) != 0};
}

bool IsControl(GraphemeBreak property) {
  return property == GraphemeBreak::kControl || property == GraphemeBreak::kCR ||
         property == GraphemeBreak::kLF;
}

// The look-back facts at `end`: from `look_back` when it holds them, or knows them for one
// regional indicator further on; else counted, and kept there.
ClusterLookBack LookBackAt(std::string_view text, size_t end, ClusterLookBack* look_back) {
  if (look_back != nullptr && look_back->end == end) return *look_back;
  // Known one regional indicator further on: with two or more there, the character before `end`
  // is a regional indicator too, and no emoji ends at `end`.
  if (look_back != nullptr && look_back->end > end && look_back->regional_indicators >= 2) {
    const Utf8Character next = DecodeUtf8(text.substr(end));
    if (end + next.length == look_back->end &&
        GraphemeBreakOf(next.codepoint) == GraphemeBreak::kRegionalIndicator) {
      *look_back = {end, look_back->regional_indicators - 1, false};
      return *look_back;
    }
  }
  ClusterLookBack facts{end, 0, false};
  size_t at = end;
  while (at > 0) {
    const Character before = CharacterBefore(text, at);
    if (before.property != GraphemeBreak::kRegionalIndicator) break;
    ++facts.regional_indicators;
    at = before.start;
  }
  while (facts.regional_indicators == 0 && at > 0) {
    const Character before = CharacterBefore(text, at);
    facts.pictographic = before.property == GraphemeBreak::kExtendedPictographic;
    if (before.property != GraphemeBreak::kExtend) break;
    at = before.start;
  }
  if (look_back != nullptr) *look_back = facts;
  return facts;
}

bool BreaksBetween(std::string_view text, const Character& before, const Character& after,
                   ClusterLookBack* look_back) {
  using enum GraphemeBreak;
  // Our one change: the screen draws a character that takes no cells on the one before it.
  if (!after.takes_cells) return false;
  if (before.property == kCR && after.property == kLF) return false;         // GB3
  if (IsControl(before.property) || IsControl(after.property)) return true;  // GB4, GB5
  switch (before.property) {  // GB6 to GB8: Hangul syllable sequences
    case kL:
      if (after.property == kL || after.property == kV || after.property == kLV ||
          after.property == kLVT) {
        return false;
      }
      break;
    case kLV:
    case kV:
      if (after.property == kV || after.property == kT) return false;
      break;
    case kLVT:
    case kT:
      if (after.property == kT) return false;
      break;
    default:
      break;
  }
  if (after.property == kExtend || after.property == kZWJ) return false;     // GB9
  if (after.property == kSpacingMark) return false;                          // GB9a
  if (before.property == kPrepend) return false;                             // GB9b
  if (before.property == kZWJ && after.property == kExtendedPictographic) {  // GB11
    return !LookBackAt(text, before.start, look_back).pictographic;
  }
  if (before.property == kRegionalIndicator && after.property == kRegionalIndicator) {
    // GB12, GB13: they pair up from the first of the run.
    return LookBackAt(text, after.start, look_back).regional_indicators % 2 == 0;
  }
  return true;  // GB999
}

}  // namespace

GraphemeBreak GraphemeBreakOf(char32_t codepoint) {
  if (codepoint >= kFirstHangulSyllable && codepoint <= kLastHangulSyllable) {
    return (codepoint - kFirstHangulSyllable) % kHangulFinals == 0 ? GraphemeBreak::kLV
                                                                   : GraphemeBreak::kLVT;
  }
  const auto* range =
      std::upper_bound(std::begin(kGraphemeBreakRanges), std::end(kGraphemeBreakRanges), codepoint,
                       [](char32_t wanted, const GraphemeBreakRange& candidate) {
                         return wanted < candidate.first;
                       });
  if (range == std::begin(kGraphemeBreakRanges) || codepoint > (--range)->last) {
    return GraphemeBreak::kOther;
  }
  return range->value;
}

size_t LastClusterLength(std::string_view text, ClusterLookBack* look_back) {
  Character after = CharacterBefore(text, text.size());
  while (after.start > 0) {
    const Character before = CharacterBefore(text, after.start);
    if (BreaksBetween(text, before, after, look_back)) break;
    after = before;
  }
  // The text is cut here next: what is known past the cut no longer holds.
  if (look_back != nullptr && look_back->end > after.start) *look_back = {};
  return text.size() - after.start;
}
