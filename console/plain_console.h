// The console for output that is a file or a pipe: text and glyphs go out in the order written,
// with no escape sequence at all; cursor moves, colours and clearing do nothing. Output is held
// back until a wait, a pause or the end, then written at once. The Windows console builds on it
// for the keys from a file or a pipe, the buffering and the way out.
#pragma once

#include <string>

#include "console/channel_console.h"

class PlainConsole : public ChannelConsole {
 public:
  // How a frame glyph goes out: in the output's character set, or as its code page 437 byte
  // (Windows' redirected output, as the console there would have written it).
  enum class GlyphBytes { kCharset, kCodePage437 };

  // Text and frame glyphs go out in `charset`: UTF-8, or the locale's.
  explicit PlainConsole(ConsoleDevice& device, const Charset& charset = {})
      : ChannelConsole(device, charset) {}
  PlainConsole(ConsoleDevice& device, GlyphBytes glyph_bytes)
      : ChannelConsole(device, {}), glyph_bytes_(glyph_bytes) {}

  void MoveCursor(int16_t, int16_t) override {}
  void SetTextColor(uint16_t) override {}
  void WriteText(std::string_view text) override;
  void WriteGlyph(ConsoleGlyph glyph) override;
  std::string ReadLine() override;
  void Clear() override {}
  [[noreturn]] void ReportFatal(const std::string& message) override;

 protected:
  void Flush() override;

 private:
  GlyphBytes glyph_bytes_ = GlyphBytes::kCharset;
  std::string pending_output_;
};
