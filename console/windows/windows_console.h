// The console on Windows when the console itself is standard input or output. Drawn on the
// console: cursor and attribute calls, frames put on screen a rectangle at a time, a message box
// for a fatal error. Keys from the console: polls by key state, its own line input and echo.
// Whatever is a file or a pipe instead is served as the plain console serves it.
#pragma once

#include <optional>
#include <string>

#include "console/glyph_block.h"
#include "console/plain_console.h"
#include "console/windows/windows_device.h"
#include "console/windows/windows_keyboard.h"

class WindowsConsole : public PlainConsole {
 public:
  explicit WindowsConsole(WindowsDevice& device);

  void MoveCursor(int16_t column, int16_t row) override;
  void SetTextColor(uint16_t attribute) override;
  void WriteText(std::string_view text) override;
  void WriteGlyph(ConsoleGlyph glyph) override;
  std::string ShownTyped(std::string_view typed) override;
  std::string ReadLine() override;
  bool IsKeyPressed(int virtual_key) override;
  void Pause(int milliseconds) override;
  void WaitForKey() override;
  void Clear() override;
  [[noreturn]] void ReportFatal(const std::string& message) override;

 private:
  struct Position {
    int16_t column;
    int16_t row;
  };

  // Everything but a key poll ends a poll's wait: every other operation starts here.
  void EndWait() {
    if (keyboard_) keyboard_->EndWait();
  }
  void Flush() override;
  void FinishOutput() override;
  void DrawGlyphBlock();
  void PlaceCursor();

  const bool draws_on_console_;              // standard output is the console
  std::optional<WindowsKeyboard> keyboard_;  // set when standard input is the console
  uint16_t attribute_;
  // The program's screen in the console's buffer: its top row and its height.
  int16_t screen_top_ = 0;
  int16_t screen_rows_ = 0;
  // Where the next write goes, in buffer rows. Moves and glyphs only update it; the console's own
  // cursor is placed when something needs it there. Unset after text, which moves the cursor.
  std::optional<Position> cursor_;
  bool cursor_placed_ = true;
  GlyphBlock glyphs_;
};
