// The console for a terminal screen: everything is drawn into a cell screen, and the terminal is
// brought up to date in one write before every wait, pause and exit.
#pragma once

#include <optional>

#include "console/charset.h"
#include "console/console.h"
#include "console/console_device.h"
#include "console/input/input_channel.h"
#include "console/screen/cell_screen.h"
#include "console/screen/screen_renderer.h"

class ScreenConsole : public Console, private InputChannel::Events {
 public:
  // Characters go out in `charset`, the terminal's.
  explicit ScreenConsole(ConsoleDevice& device, const Charset& charset = {});

  const CellScreen& Screen() const { return screen_; }

  void MoveCursor(int16_t column, int16_t row) override;
  void SetTextColor(uint16_t attribute) override { screen_.SetAttribute(attribute); }
  void WriteText(std::string_view text) override;
  void WriteGlyph(ConsoleGlyph glyph) override;
  std::string ShownTyped(std::string_view typed) override;
  std::string ReadLine() override;
  bool IsKeyPressed(int virtual_key) override { return input_.PollKey(virtual_key); }
  void Pause(int milliseconds) override;
  void WaitForKey() override { input_.TakeKey(); }
  void Clear() override;
  [[noreturn]] void ReportFatal(const std::string& message) override;
  [[noreturn]] void EndProcess(int status) override;

 private:
  void BeforeWait() override { Flush(); }
  void OnScreenEvent() override;
  [[noreturn]] void EndRun(std::string_view message) override;
  void Flush();
  void TakeSize();

  ConsoleDevice& device_;
  Charset charset_;
  WindowSize size_{};        // the window's
  WindowSize shown_size_{};  // the part of the window the screen covers: the echo wraps at its edge
  CellScreen screen_;
  ScreenRenderer renderer_;
  InputChannel input_;
  std::optional<uint64_t> rendered_version_;  // the screen version the terminal shows
};
