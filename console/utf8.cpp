#include "console/utf8.h"

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
  struct Range {
    char32_t first;
    char32_t last;
  };
  // The ranges every current terminal agrees are wide.
  static constexpr Range kWide[] = {
      {0x1100, 0x115F},   {0x2E80, 0x303E},   {0x3041, 0x33FF},   {0x3400, 0x4DBF},
      {0x4E00, 0x9FFF},   {0xA000, 0xA4CF},   {0xA960, 0xA97F},   {0xAC00, 0xD7A3},
      {0xF900, 0xFAFF},   {0xFE30, 0xFE4F},   {0xFF00, 0xFF60},   {0xFFE0, 0xFFE6},
      {0x1F300, 0x1F320}, {0x1F400, 0x1F43E}, {0x1F440, 0x1F440}, {0x1F442, 0x1F4FC},
      {0x1F600, 0x1F64F}, {0x1F680, 0x1F6C5}, {0x1F910, 0x1F9FF}, {0x20000, 0x3FFFD},
  };
  for (const Range& range : kWide) {
    if (codepoint >= range.first && codepoint <= range.last) return 2;
  }
  return 1;
}

char32_t VisibleCodepoint(char32_t codepoint) {
  if (codepoint < 0x20) return U'\u2400' + codepoint;                       // ␀ to ␟
  if (codepoint == 0x7F) return U'\u2421';                                  // ␡
  if (codepoint >= 0x80 && codepoint < 0xA0) return kReplacementCharacter;  // C1 controls
  return codepoint;
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
