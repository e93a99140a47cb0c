// Chooses the console before main runs: a drawn screen when standard output is a terminal that
// can move its cursor, plain text otherwise.
#include "console/console.h"
#include "console/plain_console.h"
#include "console/posix/posix_device.h"
#include "console/screen_console.h"

namespace {

Console* OpenPlatformConsole() {
  PosixDevice& device = PosixDevice::Open();
  ConsoleDevice::EndRunWhenMemoryRunsOut(device);
  // Static, so that the exit ending every run destroys them and leaves no heap block behind.
  if (device.DrawsOnScreen()) {
    static ScreenConsole screen(device, device.OutputCharset());
    return &screen;
  }
  static PlainConsole plain(device, device.OutputCharset());
  return &plain;
}

[[maybe_unused]] const bool kConsoleOpened = (ConsoleOutput = OpenPlatformConsole(), true);

}  // namespace
