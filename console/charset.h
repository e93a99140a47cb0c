// How characters become bytes for the terminal or for output to a file or a pipe. Inside the
// program text is UTF-8 and cells hold Unicode code points; most terminals read UTF-8 too, but one
// set up for a legacy locale (ISO-8859-x, KOI8-R, CP1251, EUC-JP...) reads that locale's own
// character set, and UTF-8 shows there as garbage.
#pragma once

#include <string>
#include <string_view>

class Charset {
 public:
  // UTF-8, where every character has its bytes.
  Charset() = default;

  // The character set of the locale the environment names (LC_ALL, LC_CTYPE, LANG). Read once,
  // at start; when it is not UTF-8, the C library's LC_CTYPE is set to that locale from then on,
  // for its conversions. The C and POSIX locales count as UTF-8: without a locale set (a
  // container, say) the terminal nearly always is.
  static Charset FromLocale();

  bool IsUtf8() const { return utf8_; }
  bool IsSingleByte() const { return single_byte_; }

  // Appends the character's bytes; false, with nothing appended, when the charset lacks it.
  bool Append(std::string& out, char32_t codepoint) const;
  // UTF-8 text in this charset: a character it lacks, or a byte that is not UTF-8, becomes '?'.
  // In UTF-8 the text is returned as it is, invalid bytes included.
  std::string FromUtf8(std::string_view utf8) const;
  // A frame's line glyph in text that a reader will see as it is (a file, a pipe, a terminal that
  // cannot move its cursor): the charset's own line character where it has one in a single byte
  // (KOI8-R, CP866), its single-line form where only that exists, else ASCII (+ - |). A
  // multibyte charset's line characters are left out: CJK terminals show them two cells wide,
  // which would tear the frame apart.
  void AppendPlainLine(std::string& out, char32_t glyph) const;

  // Typed text comes in this charset too, and is saved as its bytes; these show it. The length
  // in bytes of the first character of a non-empty text, or 0 when the text is the start of a
  // character still waiting for its other bytes. A byte that is no character's is one of its own
  // (in UTF-8, a malformed sequence is taken whole).
  size_t TypedCharacterLength(std::string_view typed) const;
  // The code point of one typed character as TypedCharacterLength splits them; U+FFFD for bytes
  // that are no character, or not a whole one.
  char32_t DecodeTyped(std::string_view character) const;
  // Typed text as UTF-8, the program's own text, for showing it; a character cut short at the end
  // is one U+FFFD. In UTF-8 the text is returned as it is.
  std::string TypedToUtf8(std::string_view typed) const;

 private:
  bool utf8_ = true;
  bool single_byte_ = false;
};

// The byte that draws a line glyph in the DEC special graphics set (single lines stand for
// double ones, which the set lacks), or 0 for any other character. Bytes from 0x20 to 0x5E show
// the same in that set as in ASCII.
char DecGraphicsByte(char32_t glyph);

// A drawn screen's characters for a terminal: in UTF-8 as they are, in any other charset with the
// line glyphs through the terminal's DEC special graphics set, which is switched into G0 around
// them (ESC ( 0 ... ESC ( B) and back to ASCII by Finish.
class TerminalCharacters {
 public:
  explicit TerminalCharacters(const Charset& charset) : charset_(charset) {}

  // Appends a character that takes `cells` cells on the screen. One the charset lacks shows as
  // '?', and a space after it for a wide one, so the terminal's cursor moves as the screen's does.
  void Append(std::string& out, char32_t glyph, int cells);
  // Appends a mark that joins the character before it; one the charset lacks is left out, since
  // it takes no cell of its own.
  void AppendMark(std::string& out, char32_t mark);
  // Puts ASCII back in G0, so that nothing written after it (another program, a shell) comes out
  // as line pieces.
  void Finish(std::string& out);

 private:
  Charset charset_;
  bool line_set_ = false;  // the DEC special graphics set is in G0
};
