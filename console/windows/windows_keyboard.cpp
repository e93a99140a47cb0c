#include "console/windows/windows_keyboard.h"

#include <conio.h>
#include <windows.h>

#include <cstdio>
#include <vector>

namespace {

// How long a key poll rests once per round of polled keys. A press during the rest still counts:
// the key state records presses since the previous query.
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

}  // namespace

bool WindowsKeyboard::IsKeyPressed(int virtual_key) {
  if (poll_round_.StartsAgain(virtual_key)) ::Sleep(kPollRestMilliseconds);
  // A press still waiting in the console's input counts however old it is, as on terminals.
  const auto state = static_cast<uint16_t>(GetAsyncKeyState(virtual_key));
  return presses_.IsPressed(virtual_key, state) || KeyPressQueued(virtual_key);
}

// The console's own line input: keys typed while a poll waited are echoed first, in the current
// attribute, and can be erased before Enter.
std::string WindowsKeyboard::ReadLine() {
  std::string line;
  for (int byte = std::getchar(); byte != EOF && byte != '\n'; byte = std::getchar()) {
    line += static_cast<char>(byte);
  }
  return line;
}

void WindowsKeyboard::WaitForKey() {
  _getch();
}
