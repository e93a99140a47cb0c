// The console operations every screen is built from. One backend is chosen at start-up and held by
// ConsoleOutput; the free functions below forward to it.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

// A frame glyph: the Windows console's byte for it (code page 437), and the same glyph in Unicode.
struct ConsoleGlyph {
  unsigned char cp437;
  char32_t unicode;
};

class Console {
 public:
  virtual ~Console() = default;
  virtual void MoveCursor(int16_t column, int16_t row) = 0;
  virtual void SetTextColor(uint16_t attribute) = 0;
  virtual void WriteText(std::string_view text) = 0;
  virtual void WriteGlyph(ConsoleGlyph glyph) = 0;
  // Text the user typed, in the keyboard's character set, as text to write: control characters
  // as their pictures, so that none reaches the terminal raw.
  virtual std::string ShownTyped(std::string_view typed) = 0;
  virtual std::string ReadLine() = 0;
  virtual bool IsKeyPressed(int virtual_key) = 0;
  virtual void Pause(int milliseconds) = 0;
  virtual void WaitForKey() = 0;
  virtual void Clear() = 0;
  [[noreturn]] virtual void ReportFatal(const std::string& message) = 0;
  [[noreturn]] virtual void EndProcess(int status) = 0;
};

// The line every console leaves on standard error for a fatal error, whatever else showed it.
std::string FatalErrorLine(std::string_view message);

extern Console* ConsoleOutput;

// Light grey on black: the console's own look, and the program's text until a colour is chosen.
inline constexpr uint16_t kDefaultAttribute = 7;

// Every layout fits in columns 0 to 119 and rows 0 to 29, and needs one row more below them: a line
// end written on row 29 would otherwise scroll the screen. A smaller window shows the top-left
// part.
inline constexpr int kLayoutColumns = 120;
inline constexpr int kLayoutRows = 31;

// Virtual-key codes the program polls.
inline constexpr int kKeyN = 0x4E;
inline constexpr int kKeyDigit1 = 0x31;

void MoveCursor(int column, int row);
void SetTextColor(int attribute);
void WriteText(std::string_view text);
void WriteGlyph(ConsoleGlyph glyph);
std::string ShownTyped(std::string_view typed);
std::string ReadLine();
bool IsKeyPressed(int virtual_key);
void Pause(int milliseconds);
void WaitForKey();
void ClearConsole();
[[noreturn]] void ReportFatal(const std::string& message);
[[noreturn]] void EndProcess(int status);
