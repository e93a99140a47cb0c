// Echo of a typed line straight onto the keyboard's terminal, for when the program's output goes
// to a file or a pipe: the user still sees what they type.
#pragma once

#include "console/console_device.h"
#include "console/line_editor.h"

class TerminalEcho : public LineEcho {
 public:
  explicit TerminalEcho(ConsoleDevice& device) : device_(device) {}
  void ShowCharacter(std::string_view utf8) override;
  void EraseLastCharacter(std::string_view utf8) override;
  void EndLine() override { device_.WriteEcho("\r\n"); }

 private:
  ConsoleDevice& device_;
};
