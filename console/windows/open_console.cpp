// Chooses the console before main runs. The Windows console serves every case itself: output
// to the console or redirected, keys from the keyboard or from redirected input.
#include "console/console.h"
#include "console/windows/windows_console.h"
#include "console/windows/windows_streams.h"

namespace {

Console* OpenPlatformConsole() {
  auto* streams = new WindowsStreams();
  return new WindowsConsole(*streams);
}

[[maybe_unused]] const bool kConsoleOpened = (ConsoleOutput = OpenPlatformConsole(), true);

}  // namespace
