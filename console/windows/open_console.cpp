// Chooses the console before main runs: the Windows console's own when it is standard input or
// output, the plain one when both are files or pipes.
#include "console/console.h"
#include "console/plain_console.h"
#include "console/windows/windows_console.h"
#include "console/windows/windows_streams.h"

namespace {

Console* OpenPlatformConsole() {
  auto* streams = new WindowsStreams();
  ConsoleDevice::EndRunWhenMemoryRunsOut(*streams);
  if (!streams->InputIsTerminal() && !streams->OutputIsConsole()) {
    return new PlainConsole(*streams, PlainConsole::GlyphBytes::kCodePage437);
  }
  return new WindowsConsole(*streams);
}

[[maybe_unused]] const bool kConsoleOpened = (ConsoleOutput = OpenPlatformConsole(), true);

}  // namespace
