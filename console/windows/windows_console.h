// The console on Windows. On the console itself it uses the console API: cursor and attribute
// calls, frames put on screen a rectangle at a time, the console's own line input and its echo,
// key polls by key state, and a message box for a fatal error. Output to a file or a pipe gets
// the text and the frame glyphs (as code page 437 bytes) in the order written. Keys come from
// standard input when it is a file or a pipe, as on every other platform.
#pragma once

#include <optional>
#include <string>

#include "console/console.h"
#include "console/fresh_key_presses.h"
#include "console/glyph_block.h"
#include "console/input_channel.h"
#include "console/poll_round.h"
#include "console/windows/windows_streams.h"

class WindowsConsole : public Console, private InputChannel::Events {
 public:
  explicit WindowsConsole(WindowsStreams& streams);

  void MoveCursor(int16_t column, int16_t row) override;
  void SetTextColor(uint16_t attribute) override;
  void WriteText(std::string_view text) override;
  void WriteGlyph(ConsoleGlyph glyph) override;
  std::string ReadLine() override;
  bool IsKeyPressed(int virtual_key) override;
  void Pause(int milliseconds) override;
  void WaitForKey() override;
  void Clear() override;
  [[noreturn]] void ReportFatal(const std::string& message) override;
  [[noreturn]] void EndProcess(int status) override { Exit(status, {}); }

 private:
  struct Position {
    int16_t column;
    int16_t row;
  };

  bool KeysFromConsole() const { return streams_.InputIsTerminal(); }
  // Brings the console or the output up to date: glyphs drawn, cursor placed, text written.
  void Flush();
  void DrawGlyphBlock();
  void PlaceCursor();
  void BeforeWait() override { Flush(); }
  void OnScreenEvent() override {}
  [[noreturn]] void EndRun(std::string_view message) override;
  [[noreturn]] void Exit(int status, std::string_view error_message);

  WindowsStreams& streams_;
  InputChannel input_;  // keys from a file or a pipe
  PollRound poll_round_;
  FreshKeyPresses presses_;
  uint16_t attribute_;
  // Where the next write goes. Moves and glyphs only update it; the console's own cursor is
  // placed when something needs it there. Unset after text, which moves the console's cursor.
  std::optional<Position> cursor_;
  bool cursor_placed_ = true;
  int16_t lowest_row_ = 0;  // the lowest row drawn on since the last clear
  GlyphBlock glyphs_;
  std::string redirected_output_;
};
