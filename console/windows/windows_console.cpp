#include "console/windows/windows_console.h"

#include <windows.h>

#include <algorithm>
#include <vector>

namespace {

HANDLE Output() {
  return GetStdHandle(STD_OUTPUT_HANDLE);
}

void WriteCells(const std::vector<CHAR_INFO>& cells, size_t first, int left, int top, int width,
                int height) {
  if (width <= 0 || height <= 0) return;
  SMALL_RECT region{static_cast<SHORT>(left), static_cast<SHORT>(top),
                    static_cast<SHORT>(left + width - 1), static_cast<SHORT>(top + height - 1)};
  WriteConsoleOutputW(Output(), cells.data() + first,
                      COORD{static_cast<SHORT>(width), static_cast<SHORT>(height)}, COORD{0, 0},
                      &region);
}

struct ScreenRows {
  SHORT top;
  SHORT count;
};

// Where the program's screen lies in the console's buffer. A buffer no taller than its window is
// all screen, drawn from its top as in a fresh console. A taller buffer holds the user's history
// above the cursor, which must stay as it is: the screen is then a window's height of rows from
// the cursor's line down, the buffer scrolled up to make room as output at its end would scroll
// it, and the window moved to show the screen.
ScreenRows TakeScreenRows(HANDLE output) {
  CONSOLE_SCREEN_BUFFER_INFO info;
  if (!GetConsoleScreenBufferInfo(output, &info)) return {0, kLayoutRows};
  const auto height = static_cast<SHORT>(info.srWindow.Bottom - info.srWindow.Top + 1);
  if (info.dwSize.Y <= height) return {0, info.dwSize.Y};
  // Room for every row of the layouts, even below a window shorter than they are.
  const auto rows = std::min(std::max(height, SHORT{kLayoutRows}), info.dwSize.Y);
  auto top = static_cast<SHORT>(info.dwCursorPosition.Y + (info.dwCursorPosition.X > 0 ? 1 : 0));
  const int overflow = top + rows - info.dwSize.Y;
  if (overflow > 0) {
    const SMALL_RECT kept{0, static_cast<SHORT>(overflow), static_cast<SHORT>(info.dwSize.X - 1),
                          static_cast<SHORT>(info.dwSize.Y - 1)};
    CHAR_INFO blank{};
    blank.Char.UnicodeChar = L' ';
    blank.Attributes = info.wAttributes;
    ScrollConsoleScreenBufferW(output, &kept, nullptr, COORD{0, 0}, &blank);
    top = static_cast<SHORT>(top - overflow);
  }
  const SMALL_RECT window{info.srWindow.Left, top, info.srWindow.Right,
                          static_cast<SHORT>(top + height - 1)};
  SetConsoleWindowInfo(output, TRUE, &window);
  return {top, rows};
}

}  // namespace

WindowsConsole::WindowsConsole(WindowsDevice& device)
    : PlainConsole(device, GlyphBytes::kCodePage437),
      draws_on_console_(device.OutputIsConsole()),
      attribute_(device.StartingAttribute()) {
  if (device.InputIsTerminal()) keyboard_.emplace();
  if (draws_on_console_) {
    const ScreenRows rows = TakeScreenRows(Output());
    screen_top_ = rows.top;
    screen_rows_ = rows.count;
    StartScreenBottom(rows.top);
  }
}

void WindowsConsole::MoveCursor(int16_t column, int16_t row) {
  EndWait();
  if (!draws_on_console_) return;
  cursor_ = Position{column, static_cast<int16_t>(screen_top_ + row)};
  cursor_placed_ = false;
  ExtendScreenBottom(cursor_->row);
}

void WindowsConsole::SetTextColor(uint16_t attribute) {
  EndWait();
  attribute_ = attribute;
  if (draws_on_console_) SetConsoleTextAttribute(Output(), attribute);
}

void WindowsConsole::WriteText(std::string_view text) {
  EndWait();
  if (!draws_on_console_) return PlainConsole::WriteText(text);
  DrawGlyphBlock();
  PlaceCursor();
  device_.WriteOutput(text);
  cursor_.reset();
}

// A name comes as typed, in the console's code page, which is also the one its text is shown in:
// it shows as typed, but for control characters, which no Windows file name holds anyway.
std::string WindowsConsole::ShownTyped(std::string_view typed) {
  if (GetConsoleCP() == CP_UTF8) return PlainConsole::ShownTyped(typed);
  std::string shown(typed);
  for (char& byte : shown) {
    if (static_cast<unsigned char>(byte) < 0x20 || byte == '\x7f') byte = '?';
  }
  return shown;
}

// On the console a glyph shows as its box-drawing character whatever the code page.
void WindowsConsole::WriteGlyph(ConsoleGlyph glyph) {
  EndWait();
  if (!draws_on_console_) return PlainConsole::WriteGlyph(glyph);
  if (!cursor_) {
    CONSOLE_SCREEN_BUFFER_INFO info;
    if (!GetConsoleScreenBufferInfo(Output(), &info)) return;
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
  EndWait();
  if (!keyboard_) return PlainConsole::ReadLine();
  Flush();
  std::string line = keyboard_->ReadLine();
  cursor_.reset();
  return line;
}

bool WindowsConsole::IsKeyPressed(int virtual_key) {
  if (!keyboard_) return PlainConsole::IsKeyPressed(virtual_key);
  Flush();
  return keyboard_->IsKeyPressed(virtual_key);
}

// Keys typed during the pause stay in the console's input, where polls and the line input find
// them.
void WindowsConsole::Pause(int milliseconds) {
  EndWait();
  if (!keyboard_) return PlainConsole::Pause(milliseconds);
  Flush();
  ::Sleep(static_cast<DWORD>(std::max(milliseconds, 0)));
}

void WindowsConsole::WaitForKey() {
  EndWait();
  if (!keyboard_) return PlainConsole::WaitForKey();
  Flush();
  keyboard_->WaitForKey();
}

// Blanks the program's screen in the current attribute, as a shell's clear would, without one.
void WindowsConsole::Clear() {
  EndWait();
  if (!draws_on_console_) return;
  glyphs_.Clear();
  CONSOLE_SCREEN_BUFFER_INFO info;
  if (GetConsoleScreenBufferInfo(Output(), &info)) {
    const auto cells = static_cast<DWORD>(info.dwSize.X) * static_cast<DWORD>(screen_rows_);
    const COORD top{0, screen_top_};
    DWORD written = 0;
    FillConsoleOutputCharacterW(Output(), L' ', cells, top, &written);
    FillConsoleOutputAttribute(Output(), attribute_, cells, top, &written);
  }
  cursor_ = Position{0, screen_top_};
  cursor_placed_ = false;
  StartScreenBottom(screen_top_);
}

// The box needs someone at the keyboard; a run fed from a file or a pipe must not wait on it.
void WindowsConsole::ReportFatal(const std::string& message) {
  Flush();
  if (keyboard_) MessageBoxA(nullptr, message.c_str(), "ERROR", MB_OK | MB_SETFOREGROUND);
  PlainConsole::ReportFatal(message);
}

// The shell's prompt comes back on the row below everything the program drew.
void WindowsConsole::FinishOutput() {
  Flush();
  if (draws_on_console_) MoveCursorBelowScreen();
}

void WindowsConsole::Flush() {
  PlainConsole::Flush();
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
  SetConsoleCursorPosition(Output(), COORD{cursor_->column, cursor_->row});
  cursor_placed_ = true;
}
