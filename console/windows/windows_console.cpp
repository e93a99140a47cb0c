#include "console/windows/windows_console.h"

#include <conio.h>
#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <vector>

#include "console/terminal_echo.h"

namespace {

constexpr size_t kFlushThreshold = size_t{64} * 1024;
// How long a key poll rests once per round of polled keys. A press during the rest still counts:
// the key state records presses since the previous query.
constexpr DWORD kPollRestMilliseconds = 10;

HANDLE CurrentOutput() {
  return GetStdHandle(STD_OUTPUT_HANDLE);
}

void WriteCells(const std::vector<CHAR_INFO>& cells, size_t first, int left, int top, int width,
                int height) {
  if (width <= 0 || height <= 0) return;
  SMALL_RECT region{static_cast<SHORT>(left), static_cast<SHORT>(top),
                    static_cast<SHORT>(left + width - 1), static_cast<SHORT>(top + height - 1)};
  WriteConsoleOutputW(CurrentOutput(), cells.data() + first,
                      COORD{static_cast<SHORT>(width), static_cast<SHORT>(height)}, COORD{0, 0},
                      &region);
}

// Whether a press of the key is waiting in the console's input, still to be read. Keys that come
// through a pseudo console (an SSH session, a terminal emulator's) reach only this queue, never
// the key state.
bool KeyPressQueued(int virtual_key) {
  const HANDLE input = GetStdHandle(STD_INPUT_HANDLE);
  DWORD count = 0;
  if (!GetNumberOfConsoleInputEvents(input, &count) || count == 0) return false;
  std::vector<INPUT_RECORD> events(count);
  if (!PeekConsoleInputW(input, events.data(), count, &count)) return false;
  for (DWORD i = 0; i < count; ++i) {
    const INPUT_RECORD& event = events[i];
    if (event.EventType == KEY_EVENT && event.Event.KeyEvent.bKeyDown &&
        event.Event.KeyEvent.wVirtualKeyCode == virtual_key) {
      return true;
    }
  }
  return false;
}

}  // namespace

WindowsConsole::WindowsConsole(WindowsStreams& streams)
    : streams_(streams), input_(streams, *this), attribute_(streams.StartingAttribute()) {}

void WindowsConsole::MoveCursor(int16_t column, int16_t row) {
  presses_.EndWait();
  if (!streams_.OutputIsConsole()) return;  // a file or a pipe has no cursor
  cursor_ = Position{column, row};
  cursor_placed_ = false;
  lowest_row_ = std::max(lowest_row_, row);
}

void WindowsConsole::SetTextColor(uint16_t attribute) {
  presses_.EndWait();
  attribute_ = attribute;
  SetConsoleTextAttribute(streams_.OutputHandle(), attribute);
}

void WindowsConsole::WriteText(std::string_view text) {
  presses_.EndWait();
  if (!streams_.OutputIsConsole()) {
    redirected_output_ += text;
    if (redirected_output_.size() >= kFlushThreshold) Flush();
    return;
  }
  DrawGlyphBlock();
  PlaceCursor();
  streams_.WriteOutput(text);
  cursor_.reset();
}

// On the console a glyph shows as its box-drawing character whatever the code page; a file or a
// pipe gets its code page 437 byte.
void WindowsConsole::WriteGlyph(ConsoleGlyph glyph) {
  presses_.EndWait();
  if (!streams_.OutputIsConsole()) {
    redirected_output_ += static_cast<char>(glyph.cp437);
    return;
  }
  if (!cursor_) {
    CONSOLE_SCREEN_BUFFER_INFO info;
    if (!GetConsoleScreenBufferInfo(CurrentOutput(), &info)) return;
    cursor_ = Position{info.dwCursorPosition.X, info.dwCursorPosition.Y};
  }
  const BlockCell cell{glyph.unicode, attribute_};
  if (!glyphs_.Add(cursor_->column, cursor_->row, cell)) {
    DrawGlyphBlock();
    glyphs_.Add(cursor_->column, cursor_->row, cell);
  }
  ++cursor_->column;
  cursor_placed_ = false;
}

std::string WindowsConsole::ReadLine() {
  presses_.EndWait();
  if (!KeysFromConsole()) {
    TerminalEcho no_echo(streams_);
    return input_.ReadLine(no_echo);
  }
  Flush();
  // The console's own line input: keys typed while a poll waited are echoed first, in the
  // current attribute, and can be erased before Enter.
  std::string line;
  for (int byte = std::getchar(); byte != EOF && byte != '\n'; byte = std::getchar()) {
    line += static_cast<char>(byte);
  }
  cursor_.reset();
  return line;
}

bool WindowsConsole::IsKeyPressed(int virtual_key) {
  if (!KeysFromConsole()) return input_.PollKey(virtual_key);
  Flush();
  if (poll_round_.StartsAgain(virtual_key)) ::Sleep(kPollRestMilliseconds);
  // A press still waiting in the console's input counts however old it is, as on terminals.
  const auto state = static_cast<uint16_t>(GetAsyncKeyState(virtual_key));
  return presses_.IsPressed(virtual_key, state) || KeyPressQueued(virtual_key);
}

void WindowsConsole::Pause(int milliseconds) {
  presses_.EndWait();
  Flush();
  ::Sleep(static_cast<DWORD>(std::max(milliseconds, 0)));
}

void WindowsConsole::WaitForKey() {
  presses_.EndWait();
  if (!KeysFromConsole()) {
    input_.TakeKey();
    return;
  }
  Flush();
  _getch();
}

// Blanks the whole buffer in the current attribute, as a shell's clear would, without one.
void WindowsConsole::Clear() {
  presses_.EndWait();
  if (!streams_.OutputIsConsole()) return;
  glyphs_.Clear();
  const HANDLE output = CurrentOutput();
  CONSOLE_SCREEN_BUFFER_INFO info;
  if (GetConsoleScreenBufferInfo(output, &info)) {
    const auto cells = static_cast<DWORD>(info.dwSize.X) * static_cast<DWORD>(info.dwSize.Y);
    DWORD written = 0;
    FillConsoleOutputCharacterW(output, L' ', cells, COORD{0, 0}, &written);
    FillConsoleOutputAttribute(output, attribute_, cells, COORD{0, 0}, &written);
  }
  cursor_ = Position{0, 0};
  cursor_placed_ = false;
  lowest_row_ = 0;
}

// The box needs someone at the keyboard; a run fed from a file or a pipe must not wait on it.
void WindowsConsole::ReportFatal(const std::string& message) {
  Flush();
  if (KeysFromConsole()) {
    MessageBoxA(nullptr, message.c_str(), "ERROR", MB_OK | MB_SETFOREGROUND);
  }
  Exit(1, "ERROR: " + message);
}

void WindowsConsole::EndRun(std::string_view message) {
  Exit(1, message);
}

// The shell's prompt comes back on the row below everything the program drew.
void WindowsConsole::Exit(int status, std::string_view error_message) {
  Flush();
  if (streams_.OutputIsConsole()) {
    CONSOLE_SCREEN_BUFFER_INFO info;
    SHORT row = lowest_row_;
    if (GetConsoleScreenBufferInfo(CurrentOutput(), &info)) {
      row = std::max(row, info.dwCursorPosition.Y);
    }
    SetConsoleCursorPosition(CurrentOutput(), COORD{0, static_cast<SHORT>(row + 1)});
  }
  streams_.Exit(status, error_message);
}

void WindowsConsole::Flush() {
  if (!redirected_output_.empty()) {
    streams_.WriteOutput(redirected_output_);
    redirected_output_.clear();
  }
  DrawGlyphBlock();
  PlaceCursor();
}

void WindowsConsole::DrawGlyphBlock() {
  if (glyphs_.Empty()) return;
  std::vector<CHAR_INFO> cells;
  cells.reserve(glyphs_.Cells().size());
  for (const BlockCell& block_cell : glyphs_.Cells()) {
    CHAR_INFO cell{};
    cell.Char.UnicodeChar = static_cast<WCHAR>(block_cell.glyph);
    cell.Attributes = block_cell.attribute;
    cells.push_back(cell);
  }
  const int width = glyphs_.Width();
  const int full_rows = glyphs_.FullRows();
  const size_t in_full_rows = static_cast<size_t>(width) * static_cast<size_t>(full_rows);
  WriteCells(cells, 0, glyphs_.Left(), glyphs_.Top(), width, full_rows);
  WriteCells(cells, in_full_rows, glyphs_.Left(), glyphs_.Top() + full_rows,
             static_cast<int>(cells.size() - in_full_rows), 1);
  glyphs_.Clear();
}

void WindowsConsole::PlaceCursor() {
  if (!cursor_ || cursor_placed_) return;
  SetConsoleCursorPosition(CurrentOutput(), COORD{cursor_->column, cursor_->row});
  cursor_placed_ = true;
}
