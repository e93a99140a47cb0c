// Standard input and output of a Windows process as a console device: what the console layer
// uses when keys come from a file or a pipe, and where all output and the exit go. It also tells
// whether each stream is the console itself.
#pragma once

#include <cstdint>

#include "console/console.h"
#include "console/console_device.h"

class WindowsDevice : public ConsoleDevice {
 public:
  WindowsDevice();

  bool OutputIsConsole() const { return output_is_console_; }
  uint16_t StartingAttribute() const { return starting_attribute_; }

  bool InputIsTerminal() const override { return input_is_console_; }
  Wait ReadInput(std::string& into, int timeout_ms) override;
  bool Sleep(int timeout_ms) override;
  int64_t NowMilliseconds() override;
  WindowSize Size() override;
  void WriteOutput(std::string_view bytes) override;
  void WriteEcho(std::string_view) override {}  // input that is not the console is not echoed

 protected:
  void EndProcess(int status, std::string_view error_message) override;

 private:
  void* input_;
  void* output_;
  bool input_is_console_;
  bool output_is_console_;
  bool input_ended_ = false;
  uint16_t starting_attribute_ = kDefaultAttribute;
};

// The lowest row of the console's buffer that the program has drawn on since its screen was taken
// or cleared (which starts it at the screen's top row), and the cursor put on the row below it and
// below the cursor, where the shell's prompt comes back: on every way out of the program, Ctrl+C
// and closing the window included.
void StartScreenBottom(int16_t row);
void ExtendScreenBottom(int16_t row);
void MoveCursorBelowScreen();
