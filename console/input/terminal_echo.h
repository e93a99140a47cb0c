// Echo of a typed line straight onto the keyboard's terminal, for when the program's output goes
// to a file or a pipe: the user still sees what they type.
#pragma once

#include <cstddef>

#include "console/charset.h"
#include "console/console_device.h"
#include "console/input/line_editor.h"

class TerminalEcho : public LineEcho {
 public:
  // The terminal reads `charset`.
  TerminalEcho(ConsoleDevice& device, const Charset& charset)
      : device_(device), charset_(charset) {}
  void ShowText(std::string_view utf8) override;
  void EraseLastCharacter(std::string_view cluster) override;
  void EndLine() override;

 private:
  ConsoleDevice& device_;
  Charset charset_;
  size_t shown_ = 0;  // glyphs on the line: a mark with none before it has nothing to join
};
