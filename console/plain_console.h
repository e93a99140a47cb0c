// The console for output that is a file or a pipe: text and glyphs go out in the order written,
// with no escape sequence at all; cursor moves, colours and clearing do nothing.
#pragma once

#include <string>

#include "console/console.h"
#include "console/console_device.h"
#include "console/input_channel.h"

class PlainConsole : public Console, private InputChannel::Events {
 public:
  explicit PlainConsole(ConsoleDevice& device) : device_(device), input_(device, *this) {}

  void MoveCursor(int16_t, int16_t) override {}
  void SetTextColor(uint16_t) override {}
  void WriteText(std::string_view text) override;
  void WriteGlyph(ConsoleGlyph glyph) override;
  std::string ReadLine() override;
  bool IsKeyPressed(int virtual_key) override { return input_.PollKey(virtual_key); }
  void Pause(int milliseconds) override;
  void WaitForKey() override { input_.TakeKey(); }
  void Clear() override {}
  [[noreturn]] void ReportFatal(const std::string& message) override;
  [[noreturn]] void EndProcess(int status) override;

 private:
  void BeforeWait() override { Flush(); }
  void OnScreenEvent() override {}
  [[noreturn]] void EndRun(std::string_view message) override;
  void Flush();

  ConsoleDevice& device_;
  InputChannel input_;
  std::string pending_output_;
};
