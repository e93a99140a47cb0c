// Standard input and output of a POSIX process as a console device. When the keyboard is a
// terminal it is switched to non-canonical mode without echo; when the screen is one that can move
// its cursor, the program draws on its alternate screen (see terminal_modes.h for how both are put
// back).
#pragma once

#include <optional>

#include "console/charset.h"
#include "console/console_device.h"
#include "console/posix/descriptors.h"

class PosixDevice : public ConsoleDevice {
 public:
  // Sets up the process's standard streams; call once.
  static PosixDevice& Open();

  // Whether standard output is a terminal the program can draw on: not a file or a pipe, nor a
  // terminal without cursor control (TERM unset, empty or dumb), which gets plain text.
  bool DrawsOnScreen() const { return draws_on_screen_; }
  // The locale's character set, which the terminal and whoever reads the output are taken to use.
  const Charset& OutputCharset() const { return charset_; }

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
  PosixDevice();
  bool DrainWakePipe();

  bool input_is_terminal_ = false;
  bool draws_on_screen_ = false;
  std::optional<Wait> input_over_;  // kEnded or kLost, for good
  Charset charset_;
  int wake_fd_ = -1;  // readable when the screen must be drawn again
  Sink output_;       // standard output
  Sink error_;        // standard error
  Sink echo_;         // the keyboard's terminal; fd -1 when the keys come from elsewhere
};
