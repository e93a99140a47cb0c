// Standard input and output of a POSIX process as a console device. When the keyboard is a
// terminal it is switched to non-canonical mode without echo; when the screen is one, the program
// draws on its alternate screen. Both are put back on every way out: normal exit, fatal error,
// the terminating signals, and Ctrl+Z (until the program is resumed).
#pragma once

#include <optional>

#include "console/console_device.h"

class PosixTerminal : public ConsoleDevice {
 public:
  // Sets up the process's standard streams; call once.
  static PosixTerminal& Open();

  bool OutputIsTerminal() const { return output_is_terminal_; }

  bool InputIsTerminal() const override { return input_is_terminal_; }
  Wait ReadInput(std::string& into, int timeout_ms) override;
  bool Sleep(int timeout_ms) override;
  int64_t NowMilliseconds() override;
  WindowSize Size() override;
  void WriteOutput(std::string_view bytes) override;
  void WriteEcho(std::string_view bytes) override;

 protected:
  void EndProcess(int status, std::string_view error_message) override;

 private:
  PosixTerminal();
  bool DrainWakePipe();

  bool input_is_terminal_ = false;
  bool output_is_terminal_ = false;
  std::optional<Wait> input_over_;  // kEnded or kLost, for good
  int echo_fd_ = -1;
};
