#include "console/screen_console.h"

#include <algorithm>

#include "console/screen/error_box.h"
#include "console/screen/screen_echo.h"

ScreenConsole::ScreenConsole(ConsoleDevice& device, const Charset& charset)
    : ChannelConsole(device, charset), screen_(kLayoutColumns, kLayoutRows), renderer_(charset) {
  TakeSize();
}

void ScreenConsole::TakeSize() {
  size_ = device_.Size();
  screen_.GrowTo(size_.columns, size_.rows);
  shown_size_ = {std::min(size_.columns, screen_.Width()), std::min(size_.rows, screen_.Height())};
}

void ScreenConsole::MoveCursor(int16_t column, int16_t row) {
  screen_.MoveCursor(column, row);
}

void ScreenConsole::WriteText(std::string_view text) {
  screen_.Write(text);
}

void ScreenConsole::WriteGlyph(ConsoleGlyph glyph) {
  screen_.Put(glyph.unicode);
}

std::string ScreenConsole::ReadLine() {
  ScreenEcho echo(screen_, shown_size_.columns);
  return input_.ReadLine(echo);
}

void ScreenConsole::Clear() {
  screen_.Clear();
}

void ScreenConsole::ReportFatal(const std::string& message) {
  DrawErrorBox(screen_, message, shown_size_.columns, shown_size_.rows);
  Flush();
  if (device_.InputIsTerminal()) input_.WaitForDismissKey();
  device_.Exit(1, FatalErrorLine(message));
}

void ScreenConsole::OnScreenEvent() {
  TakeSize();
  renderer_.Invalidate();
  rendered_version_.reset();
  Flush();
}

void ScreenConsole::Flush() {
  if (rendered_version_ == screen_.Version()) return;
  rendered_version_ = screen_.Version();
  const std::string bytes = renderer_.Render(screen_, size_.columns, size_.rows);
  if (!bytes.empty()) device_.WriteOutput(bytes);
}
