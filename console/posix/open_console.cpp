// Chooses the console before main runs: a drawn screen when standard output is a terminal that
// can move its cursor, plain text otherwise.
#include "console/console.h"
#include "console/plain_console.h"
#include "console/posix/posix_terminal.h"
#include "console/screen_console.h"

namespace {

Console* OpenPlatformConsole() {
  PosixTerminal& terminal = PosixTerminal::Open();
  ConsoleDevice::EndRunWhenMemoryRunsOut(terminal);
  // Static, so that the exit ending every run destroys them and leaves no heap block behind.
  if (terminal.DrawsOnScreen()) {
    static ScreenConsole screen(terminal, terminal.OutputCharset());
    return &screen;
  }
  static PlainConsole plain(terminal, terminal.OutputCharset());
  return &plain;
}

[[maybe_unused]] const bool kConsoleOpened = (ConsoleOutput = OpenPlatformConsole(), true);

}  // namespace
