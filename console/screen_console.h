// The console for a terminal screen: everything is drawn into a cell screen, and the terminal is
// brought up to date in one write before every wait, pause and exit.
#pragma once

#include <optional>

#include "console/channel_console.h"
#include "console/screen/cell_screen.h"
#include "console/screen/screen_renderer.h"

class ScreenConsole : public ChannelConsole {
 public:
  // Characters go out in `charset`, the terminal's.
  explicit ScreenConsole(ConsoleDevice& device, const Charset& charset = {});

  const CellScreen& Screen() const { return screen_; }

  void MoveCursor(int16_t column, int16_t row) override;
  void SetTextColor(uint16_t attribute) override { screen_.SetAttribute(attribute); }
  void WriteText(std::string_view text) override;
  void WriteGlyph(ConsoleGlyph glyph) override;
  std::string ReadLine() override;
  void Clear() override;
  [[noreturn]] void ReportFatal(const std::string& message) override;

 private:
  void OnScreenEvent() override;
  void Flush() override;
  void TakeSize();

  WindowSize size_{};        // the window's
  WindowSize shown_size_{};  // the part of the window the screen covers: the echo wraps at its edge
  CellScreen screen_;
  ScreenRenderer renderer_;
  std::optional<uint64_t> rendered_version_;  // the screen version the terminal shows
};
