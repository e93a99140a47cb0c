#include "console/charset.h"

#include <algorithm>
#include <climits>
#include <cstddef>
#include <cwchar>

#include "console/escape_sequences.h"
#include "console/utf8.h"

namespace {

struct LineGlyph {
  char32_t glyph;
  char32_t single;  // the same piece in single lines
  char dec;         // its DEC special graphics byte
  char ascii;
};

constexpr LineGlyph kLineGlyphs[] = {
    {U'─', U'─', 'q', '-'}, {U'│', U'│', 'x', '|'}, {U'┌', U'┌', 'l', '+'}, {U'┐', U'┐', 'k', '+'},
    {U'└', U'└', 'm', '+'}, {U'┘', U'┘', 'j', '+'}, {U'├', U'├', 't', '+'}, {U'┤', U'┤', 'u', '+'},
    {U'┬', U'┬', 'w', '+'}, {U'┴', U'┴', 'v', '+'}, {U'┼', U'┼', 'n', '+'}, {U'═', U'─', 'q', '-'},
    {U'║', U'│', 'x', '|'}, {U'╔', U'┌', 'l', '+'}, {U'╗', U'┐', 'k', '+'}, {U'╚', U'└', 'm', '+'},
    {U'╝', U'┘', 'j', '+'}, {U'╟', U'├', 't', '+'}, {U'╢', U'┤', 'u', '+'}, {U'╠', U'├', 't', '+'},
    {U'╣', U'┤', 'u', '+'}, {U'╦', U'┬', 'w', '+'}, {U'╩', U'┴', 'v', '+'}, {U'╬', U'┼', 'n', '+'},
};

const LineGlyph* FindLineGlyph(char32_t glyph) {
  if (glyph < U'─' || glyph > U'╬') return nullptr;
  for (const LineGlyph& line : kLineGlyphs) {
    if (line.glyph == glyph) return &line;
  }
  return nullptr;
}

// The C library converts from its wide characters, which are Unicode code points where it says
// so. Elsewhere only ASCII is sure to come out right.
bool AppendInLocale(std::string& out, char32_t codepoint) {
#ifdef __STDC_ISO_10646__
  char bytes[MB_LEN_MAX];
  std::mbstate_t state{};
  const size_t length = std::wcrtomb(bytes, static_cast<wchar_t>(codepoint), &state);
  if (length == static_cast<size_t>(-1)) return false;
  out.append(bytes, length);
  return true;
#else
  if (codepoint >= 0x80) return false;
  out += static_cast<char>(codepoint);
  return true;
#endif
}

// The first character of `text` in the C library's locale: its length, 0 when `text` is only
// its start, or -1 when it starts with a byte that is no character's.
std::ptrdiff_t DecodeInLocale(std::string_view text, char32_t& codepoint) {
#ifdef __STDC_ISO_10646__
  wchar_t wide = 0;
  std::mbstate_t state{};
  const size_t length = std::mbrtowc(&wide, text.data(), text.size(), &state);
  if (length == static_cast<size_t>(-2)) return text.size() < MB_LEN_MAX ? 0 : -1;
  if (length == static_cast<size_t>(-1)) return -1;
  codepoint = static_cast<char32_t>(wide);
  return std::max<std::ptrdiff_t>(static_cast<std::ptrdiff_t>(length), 1);  // NUL is one byte
#else
  if (static_cast<unsigned char>(text[0]) >= 0x80) return -1;
  codepoint = static_cast<unsigned char>(text[0]);
  return 1;
#endif
}

}  // namespace

size_t Charset::TypedCharacterLength(std::string_view typed) const {
  if (utf8_) {
    const auto lead = static_cast<unsigned char>(typed[0]);
    const bool waiting = typed.size() < Utf8SequenceLength(lead) &&
                         std::all_of(typed.begin() + 1, typed.end(), [](char byte) {
                           return IsUtf8Continuation(static_cast<unsigned char>(byte));
                         });
    return waiting ? 0 : DecodeUtf8(typed).length;
  }
  char32_t codepoint = 0;
  const std::ptrdiff_t length = DecodeInLocale(typed, codepoint);
  return length < 0 ? 1 : static_cast<size_t>(length);
}

char32_t Charset::DecodeTyped(std::string_view character) const {
  if (utf8_) return DecodeUtf8(character).codepoint;
  char32_t codepoint = kReplacementCharacter;
  const std::ptrdiff_t length = DecodeInLocale(character, codepoint);
  return length > 0 && static_cast<size_t>(length) == character.size() ? codepoint
                                                                       : kReplacementCharacter;
}

std::string Charset::TypedToUtf8(std::string_view typed) const {
  if (utf8_) return std::string(typed);
  std::string utf8;
  utf8.reserve(typed.size());
  while (!typed.empty()) {
    const size_t length = TypedCharacterLength(typed);
    const std::string_view character = typed.substr(0, length == 0 ? typed.size() : length);
    AppendUtf8(utf8, DecodeTyped(character));
    typed.remove_prefix(character.size());
  }
  return utf8;
}

bool Charset::Append(std::string& out, char32_t codepoint) const {
  if (utf8_) {
    AppendUtf8(out, codepoint);
    return true;
  }
  return AppendInLocale(out, codepoint);
}

std::string Charset::FromUtf8(std::string_view utf8) const {
  if (utf8_) return std::string(utf8);
  std::string converted;
  converted.reserve(utf8.size());
  while (!utf8.empty()) {
    const Utf8Character character = DecodeUtf8(utf8);
    if (character.codepoint == kReplacementCharacter || !Append(converted, character.codepoint)) {
      converted += '?';
    }
    utf8.remove_prefix(character.length);
  }
  return converted;
}

void Charset::AppendPlainLine(std::string& out, char32_t glyph) const {
  const LineGlyph* line = FindLineGlyph(glyph);
  if (utf8_ || line == nullptr) {
    if (!Append(out, glyph)) out += '?';
    return;
  }
  if (single_byte_ && (Append(out, line->glyph) || Append(out, line->single))) return;
  out += line->ascii;
}

char DecGraphicsByte(char32_t glyph) {
  const LineGlyph* line = FindLineGlyph(glyph);
  return line != nullptr ? line->dec : '\0';
}

void TerminalCharacters::Append(std::string& out, char32_t glyph, int cells) {
  if (charset_.IsUtf8()) {
    AppendUtf8(out, glyph);
    return;
  }
  if (const char dec = DecGraphicsByte(glyph); dec != '\0') {
    if (!line_set_) out += escape::kLineDrawingInG0;
    line_set_ = true;
    out += dec;
    return;
  }
  if (line_set_ && (glyph < 0x20 || glyph > 0x5E)) Finish(out);
  if (charset_.Append(out, glyph)) return;
  out += '?';
  if (cells == 2) out += ' ';
}

void TerminalCharacters::AppendMark(std::string& out, char32_t mark) {
  if (charset_.IsUtf8()) {
    AppendUtf8(out, mark);
    return;
  }
  Finish(out);
  charset_.Append(out, mark);
}

void TerminalCharacters::Finish(std::string& out) {
  if (!line_set_) return;
  out += escape::kAsciiInG0;
  line_set_ = false;
}
