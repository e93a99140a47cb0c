// Chooses the console before main runs: a drawn screen when standard output is a terminal, plain
// text otherwise.
#include "console/console.h"
#include "console/plain_console.h"
#include "console/posix/posix_terminal.h"
#include "console/screen_console.h"

namespace {

Console* OpenPlatformConsole() {
  PosixTerminal& terminal = PosixTerminal::Open();
  if (terminal.OutputIsTerminal()) return new ScreenConsole(terminal);
  return new PlainConsole(terminal);
}

[[maybe_unused]] const bool kConsoleOpened = (ConsoleOutput = OpenPlatformConsole(), true);

}  // namespace
