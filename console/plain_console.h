// The console for output that is a file or a pipe: text and glyphs go out in the order written,
// with no escape sequence at all; cursor moves, colours and clearing do nothing. Output is held
// back until a wait, a pause or the end, then written at once. The Windows console builds on it
// for the keys from a file or a pipe, the buffering and the way out.
#pragma once

#include <string>

#include "console/charset.h"
#include "console/console.h"
#include "console/console_device.h"
#include "console/input/input_channel.h"

class PlainConsole : public Console, private InputChannel::Events {
 public:
  // How a frame glyph goes out: in the output's character set, or as its code page 437 byte
  // (Windows' redirected output, as the console there would have written it).
  enum class GlyphBytes { kCharset, kCodePage437 };

  // Text and frame glyphs go out in `charset`: UTF-8, or the locale's.
  explicit PlainConsole(ConsoleDevice& device, const Charset& charset = {})
      : device_(device), input_(device, *this, charset), charset_(charset) {}
  PlainConsole(ConsoleDevice& device, GlyphBytes glyph_bytes)
      : device_(device), input_(device, *this), glyph_bytes_(glyph_bytes) {}

  void MoveCursor(int16_t, int16_t) override {}
  void SetTextColor(uint16_t) override {}
  void WriteText(std::string_view text) override;
  void WriteGlyph(ConsoleGlyph glyph) override;
  std::string ShownTyped(std::string_view typed) override;
  std::string ReadLine() override;
  bool IsKeyPressed(int virtual_key) override { return input_.PollKey(virtual_key); }
  void Pause(int milliseconds) override;
  void WaitForKey() override { input_.TakeKey(); }
  void Clear() override {}
  [[noreturn]] void ReportFatal(const std::string& message) override;
  [[noreturn]] void EndProcess(int status) override { Exit(status, {}); }

 protected:
  // Brings the output up to date.
  virtual void Flush();
  // Brings the output up to date for the last time, as the process ends.
  virtual void FinishOutput() { Flush(); }

  ConsoleDevice& device_;

 private:
  [[noreturn]] void Exit(int status, std::string_view error_message) {
    FinishOutput();
    device_.Exit(status, error_message);
  }
  void BeforeWait() override { Flush(); }
  void OnScreenEvent() override {}
  [[noreturn]] void EndRun(std::string_view message) override { Exit(1, message); }

  InputChannel input_;
  GlyphBytes glyph_bytes_ = GlyphBytes::kCharset;
  Charset charset_;
  std::string pending_output_;
};
