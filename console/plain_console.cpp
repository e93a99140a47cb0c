#include "console/plain_console.h"

#include "console/input/terminal_echo.h"

namespace {

constexpr size_t kFlushThreshold = size_t{64} * 1024;

}  // namespace

void PlainConsole::WriteText(std::string_view text) {
  pending_output_ += charset_.FromUtf8(text);
  if (pending_output_.size() >= kFlushThreshold) Flush();
}

void PlainConsole::WriteGlyph(ConsoleGlyph glyph) {
  if (glyph_bytes_ == GlyphBytes::kCodePage437) {
    pending_output_ += static_cast<char>(glyph.cp437);
  } else {
    charset_.AppendPlainLine(pending_output_, glyph.unicode);
  }
}

std::string PlainConsole::ReadLine() {
  Flush();  // the prompt goes out before the echo of keys typed ahead
  TerminalEcho echo(device_, charset_);
  return input_.ReadLine(echo);
}

void PlainConsole::ReportFatal(const std::string& message) {
  Exit(1, FatalErrorLine(message));
}

void PlainConsole::Flush() {
  if (pending_output_.empty()) return;
  device_.WriteOutput(pending_output_);
  pending_output_.clear();
}
