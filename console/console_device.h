// What a console backend needs from the platform: bytes in, bytes out, the window size, time, and
// leaving the process with the terminal as it was. The POSIX and Windows devices provide it, and
// so does the tests' scripted device, so the same console code runs on all of them.
#pragma once

#include <cstdint>
#include <cstdlib>
#include <new>
#include <string>
#include <string_view>

struct WindowSize {
  int columns;
  int rows;
};

class ConsoleDevice {
 public:
  enum class Wait { kInput, kTimeout, kEnded, kScreenEvent, kLost };
  static constexpr int kNoTimeout = -1;

  virtual ~ConsoleDevice() = default;

  // Whether keys come from a terminal (edited and echoed) rather than a file or a pipe.
  virtual bool InputIsTerminal() const = 0;
  // Waits up to timeout_ms for input and appends what arrived to `into`. kScreenEvent: the window
  // was resized or the program resumed after a stop, and the screen must be drawn again. kLost:
  // the keyboard's terminal went away (a hang-up) or input can no longer be read; unlike kEnded,
  // nobody said the input was complete, so nothing read so far may be acted on.
  virtual Wait ReadInput(std::string& into, int timeout_ms) = 0;
  // Sleeps without reading input; true when a screen event cut the sleep short.
  virtual bool Sleep(int timeout_ms) = 0;
  virtual int64_t NowMilliseconds() = 0;
  virtual WindowSize Size() = 0;

  virtual void WriteOutput(std::string_view bytes) = 0;  // standard output
  virtual void WriteEcho(std::string_view bytes) = 0;    // the terminal the keys are typed on
  // Puts the terminal back as it was, writes the message (if any) to standard error, and ends
  // the process with the status.
  [[noreturn]] void Exit(int status, std::string_view error_message) {
    EndProcess(status, error_message);
    std::abort();  // a device that failed to end the process must not let the run go on
  }

  // From now on running out of memory, wherever it happens, is a fatal error of the program's
  // own: the device puts the terminal back and the run ends with status 1 and this message,
  // saving nothing. No unwinding, so no caller can half-finish its work; the device allocates
  // nothing on the way out.
  static constexpr std::string_view kOutOfMemoryMessage = "Out of memory.";
  static void EndRunWhenMemoryRunsOut(ConsoleDevice& device) {
    out_of_memory_device_ = &device;
    std::set_new_handler([] { out_of_memory_device_->Exit(1, kOutOfMemoryMessage); });
  }

 protected:
  // Must not return; the tests' device throws instead, so that the ending can be observed.
  virtual void EndProcess(int status, std::string_view error_message) = 0;

 private:
  static inline ConsoleDevice* out_of_memory_device_ = nullptr;
};

// Sleeps for the whole time, handing every screen event on the way to on_screen_event.
template <typename OnScreenEvent>
void SleepFor(ConsoleDevice& device, int milliseconds, OnScreenEvent on_screen_event) {
  const int64_t deadline = device.NowMilliseconds() + milliseconds;
  for (int64_t left = milliseconds; left > 0; left = deadline - device.NowMilliseconds()) {
    if (device.Sleep(static_cast<int>(left))) on_screen_event();
  }
}
