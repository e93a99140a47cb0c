// How bytes become characters on the screen: every character takes one cell, but the wide ones
// terminals show in two, and bytes that are not valid UTF-8 still take a cell each (shown as
// U+FFFD), so nothing typed is ever invisible.
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

// 2 for the characters terminals show two cells wide (East Asian wide and fullwidth forms, most
// emoji), 1 for all others.
int CellWidth(char32_t codepoint);

// Control characters become their visible Unicode pictures, so they are never sent raw.
char32_t VisibleCodepoint(char32_t codepoint);

// The text with every control character as its picture and invalid bytes as U+FFFD, for showing
// text that came from outside the program.
std::string VisibleText(std::string_view text);
