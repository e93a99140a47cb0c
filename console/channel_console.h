// The input half shared by the consoles whose keys come through an InputChannel: from a terminal,
// a file or a pipe. Key polls, the wait for one key and pauses are the same for all of them; what
// differs is their output, which each brings up to date in Flush before every wait, and puts out
// for the last time in FinishOutput as the run ends.
#pragma once

#include <string>
#include <string_view>

#include "console/charset.h"
#include "console/console.h"
#include "console/console_device.h"
#include "console/input/input_channel.h"

class ChannelConsole : public Console, protected InputChannel::Events {
 public:
  std::string ShownTyped(std::string_view typed) override;
  bool IsKeyPressed(int virtual_key) override { return input_.PollKey(virtual_key); }
  void Pause(int milliseconds) override;
  void WaitForKey() override { input_.TakeKey(); }
  [[noreturn]] void EndProcess(int status) override { Exit(status, {}); }

 protected:
  // Keys are typed in `charset`, the terminal's.
  ChannelConsole(ConsoleDevice& device, const Charset& charset)
      : device_(device), charset_(charset), input_(device, *this, charset) {}

  // Brings the output up to date.
  virtual void Flush() = 0;
  // Brings the output up to date for the last time, as the process ends.
  virtual void FinishOutput() { Flush(); }
  [[noreturn]] void Exit(int status, std::string_view error_message) {
    FinishOutput();
    device_.Exit(status, error_message);
  }

  void BeforeWait() override { Flush(); }
  void OnScreenEvent() override {}  // output with no screen has nothing to draw again
  [[noreturn]] void EndRun(std::string_view message) override { Exit(1, message); }

  ConsoleDevice& device_;
  const Charset charset_;
  InputChannel input_;
};
