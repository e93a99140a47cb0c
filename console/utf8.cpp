#include "console/utf8.h"

#include <algorithm>
#include <iterator>

#include "console/width_table.h"

size_t Utf8SequenceLength(unsigned char lead) {
  if (lead >= 0xC0 && lead <= 0xDF) return 2;
  if (lead >= 0xE0 && lead <= 0xEF) return 3;
  if (lead >= 0xF0 && lead <= 0xF7) return 4;
  return 1;
}

namespace {

bool IsValidCodepoint(char32_t codepoint, size_t length) {
  static constexpr char32_t kSmallestForLength[] = {0, 0, 0x80, 0x800, 0x10000};
  if (codepoint < kSmallestForLength[length]) return false;  // overlong
  if (codepoint >= 0xD800 && codepoint <= 0xDFFF) return false;
  return codepoint <= 0x10FFFF;
}

}  // namespace

Utf8Character DecodeUtf8(std::string_view text) {
  const auto lead = static_cast<unsigned char>(text[0]);
  if (lead < 0x80) return {lead, 1};
  const size_t wanted = Utf8SequenceLength(lead);
  if (wanted == 1) return {kReplacementCharacter, 1};
  size_t length = 1;
  while (length < wanted && length < text.size() &&
         IsUtf8Continuation(static_cast<unsigned char>(text[length]))) {
    ++length;
  }
  if (length < wanted) return {kReplacementCharacter, length};
  static constexpr unsigned char kLeadMask[] = {0, 0, 0x1F, 0x0F, 0x07};
  char32_t codepoint = lead & kLeadMask[wanted];
  for (size_t i = 1; i < wanted; ++i) {
    codepoint = (codepoint << 6) | (static_cast<unsigned char>(text[i]) & 0x3F);
  }
  if (!IsValidCodepoint(codepoint, wanted)) return {kReplacementCharacter, wanted};
  return {codepoint, wanted};
}

size_t LastUtf8CharacterLength(std::string_view text) {
  size_t continuations = 0;
  while (continuations < 3 && continuations < text.size() &&
         IsUtf8Continuation(static_cast<unsigned char>(text[text.size() - 1 - continuations]))) {
    ++continuations;
  }
  if (continuations == 0 || continuations == text.size()) return 1;
  const auto lead = static_cast<unsigned char>(text[text.size() - 1 - continuations]);
  const size_t wanted = Utf8SequenceLength(lead);
  if (IsUtf8Continuation(lead) || wanted < continuations + 1) return 1;
  return continuations + 1;
}

void AppendUtf8(std::string& out, char32_t codepoint) {
  if (codepoint < 0x80) {
    out += static_cast<char>(codepoint);
  } else if (codepoint < 0x800) {
    out += static_cast<char>(0xC0 | (codepoint >> 6));
    out += static_cast<char>(0x80 | (codepoint & 0x3F));
  } else if (codepoint < 0x10000) {
    out += static_cast<char>(0xE0 | (codepoint >> 12));
    out += static_cast<char>(0x80 | ((codepoint >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (codepoint & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | (codepoint >> 18));
    out += static_cast<char>(0x80 | ((codepoint >> 12) & 0x3F));
    out += static_cast<char>(0x80 | ((codepoint >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (codepoint & 0x3F));
  }
}

int CellWidth(char32_t codepoint) {
  const auto* range = std::upper_bound(
      std::begin(kCellWidthRanges), std::end(kCellWidthRanges), codepoint,
      [](char32_t wanted, const CellWidthRange& candidate) { return wanted < candidate.first; });
  if (range == std::begin(kCellWidthRanges) || codepoint > (--range)->last) return 1;
  return range->cells;
}

char32_t VisibleCodepoint(char32_t codepoint) {
  if (codepoint < 0x20) return U'\u2400' + codepoint;                       // ␀ to ␟
  if (codepoint == 0x7F) return U'\u2421';                                  // ␡
  if (codepoint >= 0x80 && codepoint < 0xA0) return kReplacementCharacter;  // C1 controls
  // Unicode's Bidi_Control characters: ALM, LRM and RLM, the embeddings, overrides and isolates.
  if (codepoint == 0x061C || codepoint == 0x200E || codepoint == 0x200F ||
      (codepoint >= 0x202A && codepoint <= 0x202E) ||
      (codepoint >= 0x2066 && codepoint <= 0x2069)) {
    return kReplacementCharacter;
  }
  return codepoint;
}

ShownCharacter DecodeShown(std::string_view text) {
  const Utf8Character character = DecodeUtf8(text);
  const char32_t glyph = VisibleCodepoint(character.codepoint);
  return {glyph, CellWidth(glyph), character.length};
}

size_t LastGlyphLength(std::string_view text) {
  size_t length = 0;
  while (length < text.size()) {
    const std::string_view rest = text.substr(0, text.size() - length);
    const size_t last = LastUtf8CharacterLength(rest);
    length += last;
    if (DecodeShown(rest.substr(rest.size() - last)).cells != 0) break;
  }
  return length;
}

int GlyphCells(std::string_view glyph) {
  return std::max(DecodeShown(glyph).cells, 1);
}

std::string VisibleText(std::string_view text) {
  std::string visible;
  while (!text.empty()) {
    const Utf8Character character = DecodeUtf8(text);
    AppendUtf8(visible, VisibleCodepoint(character.codepoint));
    text.remove_prefix(character.length);
  }
  return visible;
}
