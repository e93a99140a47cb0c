// Chooses the console before main runs: a drawn screen when standard output is a terminal that
// can move its cursor, plain text otherwise. Doing it in a static initialiser is the design, not an
// accident: every screen finds the console ready through ConsoleOutput, and main stays the plain
// sequence of screens. The Windows build does the same in console/windows/open_console.cpp.
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
