#include "console/windows/windows_keyboard.h"

#include <conio.h>
#include <windows.h>

#include <algorithm>
#include <iterator>
#include <string>
#include <vector>

namespace {

// How long a key poll rests once per round of polled keys when it cannot block until input
// comes. A press during the rest still counts: the key state records presses since the previous
// query.
constexpr DWORD kPollRestMilliseconds = 10;

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

bool IsModifierKey(WORD virtual_key) {
  switch (virtual_key) {
    case VK_SHIFT:
    case VK_CONTROL:
    case VK_MENU:
    case VK_CAPITAL:
    case VK_NUMLOCK:
    case VK_SCROLL:
    case VK_LWIN:
    case VK_RWIN:
      return true;
    default:
      return false;
  }
}

// Whether a record no read of the console takes anything from: focus, menu, mouse and size
// events, a key's release, and a modifier pressed on its own. Not the release of Alt that ends an
// Alt+numpad code: it carries the character.
bool IsUnusedByReads(const INPUT_RECORD& event) {
  if (event.EventType != KEY_EVENT) return true;
  const KEY_EVENT_RECORD& key = event.Event.KeyEvent;
  if (key.uChar.UnicodeChar != 0) return !key.bKeyDown && key.wVirtualKeyCode != VK_MENU;
  return !key.bKeyDown || IsModifierKey(key.wVirtualKeyCode);
}

// Waits until the console's input brings something; false when it cannot. Its handle stays
// signalled while any record is unread, so records no read uses (the release of the Enter that
// started the program, say) are dropped from its front first; with none left it blocks until a
// record comes. A key typed but not polled for must stay for the line read, and keeps the handle
// signalled.
bool WaitForInput() {
  const HANDLE input = GetStdHandle(STD_INPUT_HANDLE);
  INPUT_RECORD event;
  DWORD count = 0;
  while (PeekConsoleInputW(input, &event, 1, &count)) {
    if (count == 0) return WaitForSingleObject(input, INFINITE) == WAIT_OBJECT_0;
    if (!IsUnusedByReads(event) || !ReadConsoleInputW(input, &event, 1, &count)) return false;
  }
  return false;
}

}  // namespace

bool WindowsKeyboard::IsKeyPressed(int virtual_key) {
  if (poll_round_.StartsAgain(virtual_key)) {
    // Only a read takes a key held for it, so it stays at the front until the wait ends.
    input_held_ = input_held_ || !WaitForInput();
    if (input_held_) ::Sleep(kPollRestMilliseconds);
  }
  // A press still waiting in the console's input counts however old it is, as on terminals.
  const auto state = static_cast<uint16_t>(GetAsyncKeyState(virtual_key));
  return presses_.IsPressed(virtual_key, state) || KeyPressQueued(virtual_key);
}

// The console's own line input: keys typed while a poll waited are echoed first, in the current
// attribute, and can be erased before Enter. The line is read as the characters typed and given
// in the console's input code page: read as bytes, a console host set to UTF-8 hands over every
// character outside ASCII as a NUL. A Ctrl+Z ends the input, as it ends a text file: the line is
// what was typed before it, and every line after it is empty.
std::string WindowsKeyboard::ReadLine() {
  const HANDLE input = GetStdHandle(STD_INPUT_HANDLE);
  // A CR last in what was read may have its LF still to come.
  const auto line_end = [this] {
    const size_t end = read_.find_first_of(L"\r\n\x1a");
    return end + 1 == read_.size() && read_[end] == L'\r' ? std::wstring::npos : end;
  };
  size_t end = std::wstring::npos;
  while (!input_ended_ && (end = line_end()) == std::wstring::npos) {
    wchar_t buffer[4096];
    DWORD count = 0;
    if (!ReadConsoleW(input, buffer, std::size(buffer), &count, nullptr) &&
        GetLastError() != ERROR_OPERATION_ABORTED) {
      input_ended_ = true;  // the console has gone
    }
    // Ctrl+C gives a read of nothing, and the break handler ends the process meanwhile: the
    // line is not cut short by it, nor saved.
    read_.append(buffer, count);
  }
  if (end == std::wstring::npos) end = std::min(read_.size(), read_.find_first_of(L"\r\x1a"));
  std::wstring line = read_.substr(0, end);
  if (end < read_.size() && read_[end] == L'\x1a') input_ended_ = true;
  // What comes after the line end (a CR's LF, the next line) stays for the next read.
  const bool cr_lf = read_.compare(end, 2, L"\r\n") == 0;
  read_.erase(0, std::min(read_.size(), end + (cr_lf ? 2 : 1)));
  if (input_ended_) read_.clear();
  const UINT code_page = GetConsoleCP();
  const int size = static_cast<int>(line.size());
  const int length =
      WideCharToMultiByte(code_page, 0, line.data(), size, nullptr, 0, nullptr, nullptr);
  std::string bytes(static_cast<size_t>(std::max(length, 0)), '\0');
  WideCharToMultiByte(code_page, 0, line.data(), size, bytes.data(), length, nullptr, nullptr);
  return bytes;
}

void WindowsKeyboard::WaitForKey() {
  _getch();
}
