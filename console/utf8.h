// How bytes become characters on the screen: most characters take one cell, the wide ones two,
// and marks none: they join the character before them. Bytes that are not valid UTF-8 still take
// a cell each (shown as U+FFFD), and controls show as pictures, so nothing typed is invisible.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

inline constexpr char32_t kReplacementCharacter = U'\uFFFD';

inline bool IsUtf8Continuation(unsigned char byte) {
  return (byte & 0xC0) == 0x80;
}

// How many bytes a character starting with `lead` spans when it is complete; 1 for ASCII, for
// stray continuation bytes and for bytes that can never start a character.
size_t Utf8SequenceLength(unsigned char lead);

struct Utf8Character {
  char32_t codepoint;  // kReplacementCharacter when the bytes are not valid UTF-8
  size_t length;       // bytes taken from the text, at least 1
};

// Decodes the first character of a non-empty text. An incomplete or malformed sequence is taken
// whole (the lead byte and the continuation bytes that follow it) as one replacement character.
Utf8Character DecodeUtf8(std::string_view text);

// Length in bytes of the last character of a non-empty text, split the same way DecodeUtf8 splits
// it going forwards, so erasing characters from the end undoes appending them.
size_t LastUtf8CharacterLength(std::string_view text);

void AppendUtf8(std::string& out, char32_t codepoint);

// Under marks that have nothing before them to join: U+25CC DOTTED CIRCLE, as Unicode's own
// charts show a mark alone.
inline constexpr char32_t kMarkBase = U'\u25CC';

// The cells terminals and the C library give a character, from Unicode's data: 0 for the marks
// and format characters that join the character before them, 2 for East Asian wide and
// fullwidth forms and emoji, 1 for all others.
int CellWidth(char32_t codepoint);

// Control characters become their visible Unicode pictures, so they are never sent raw. Those
// without a picture become U+FFFD: the C1 controls, and the bidirectional controls, with which a
// terminal would reorder the text around them and show a name other than the one saved.
char32_t VisibleCodepoint(char32_t codepoint);

// One typed character as the screen shows it. The one place where typed bytes become what is
// drawn, and how many cells it takes; the line editor and every echo go through it.
struct ShownCharacter {
  char32_t glyph;  // VisibleCodepoint of the character
  int cells;       // CellWidth of the glyph: 0 for a mark
  size_t length;   // bytes taken from the text, at least 1
};
ShownCharacter DecodeShown(std::string_view text);

// Length in bytes of the last glyph of a non-empty text, as the screen draws it: its last
// character that takes cells, with the marks drawn on it; or, when the text starts with marks,
// those alone. A grapheme cluster is one glyph or more (grapheme.h); in a legacy charset
// Backspace erases one glyph, so that a character never leaves its marks behind.
size_t LastGlyphLength(std::string_view text);

// The cells a glyph takes: those of its first character; one for marks alone, which stand on
// kMarkBase.
int GlyphCells(std::string_view glyph);

// The text with every control character as its picture and invalid bytes as U+FFFD, for showing
// text that came from outside the program.
std::string VisibleText(std::string_view text);
