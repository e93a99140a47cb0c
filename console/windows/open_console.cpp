// Chooses the console before main runs: the Windows console's own when it is standard input or
// output, the plain one when both are files or pipes. A static initialiser on purpose, as on POSIX
// (console/posix/open_console.cpp): every screen finds the console ready through ConsoleOutput.
#include "console/console.h"
#include "console/plain_console.h"
#include "console/windows/windows_console.h"
#include "console/windows/windows_device.h"

namespace {

Console* OpenPlatformConsole() {
  auto* device = new WindowsDevice();
  ConsoleDevice::EndRunWhenMemoryRunsOut(*device);
  if (!device->InputIsTerminal() && !device->OutputIsConsole()) {
    return new PlainConsole(*device, PlainConsole::GlyphBytes::kCodePage437);
  }
  return new WindowsConsole(*device);
}

[[maybe_unused]] const bool kConsoleOpened = (ConsoleOutput = OpenPlatformConsole(), true);

}  // namespace
