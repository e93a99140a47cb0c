#include "console/windows/windows_device.h"

#include <windows.h>

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <string>

#include "console/console.h"

namespace {

bool IsConsole(HANDLE handle) {
  DWORD mode = 0;
  return GetConsoleMode(handle, &mode) != 0;
}

void WriteAll(HANDLE handle, std::string_view bytes) {
  while (!bytes.empty()) {
    const auto chunk = static_cast<DWORD>(std::min<size_t>(bytes.size(), size_t{1} << 20));
    DWORD written = 0;
    if (!WriteFile(handle, bytes.data(), chunk, &written, nullptr) || written == 0) return;
    bytes.remove_prefix(written);
  }
}

// The console's colour when the program started, and the lowest row of the buffer the program
// has drawn on, for the break handler, which runs in a thread of its own.
HANDLE g_console_output = nullptr;
WORD g_starting_attribute = kDefaultAttribute;
std::atomic<int> g_screen_bottom{-1};
constexpr DWORD kLineEditSettleMilliseconds = 150;

// Ctrl+C, Ctrl+Break and closing the window end the process the usual way, but first the console
// gets its starting colour back and its cursor goes below the program's screen, as on every other
// way out; the shell's prompt would otherwise come back inside a box, in the colour of the text
// being typed. A console editing a line puts its cursor back on that line once it has sent the
// event (Wine's does), so the cursor is put below again after a moment.
BOOL WINAPI RestoreConsoleOnBreak(DWORD) {
  SetConsoleTextAttribute(g_console_output, g_starting_attribute);
  MoveCursorBelowScreen();
  Sleep(kLineEditSettleMilliseconds);
  MoveCursorBelowScreen();
  return FALSE;  // on to the default handler, which ends the process
}

}  // namespace

WindowsDevice::WindowsDevice()
    : input_(GetStdHandle(STD_INPUT_HANDLE)),
      output_(GetStdHandle(STD_OUTPUT_HANDLE)),
      input_is_console_(IsConsole(input_)),
      output_is_console_(IsConsole(output_)) {
  CONSOLE_SCREEN_BUFFER_INFO info;
  if (output_is_console_ && GetConsoleScreenBufferInfo(output_, &info)) {
    starting_attribute_ = info.wAttributes;
    g_console_output = output_;
    g_starting_attribute = starting_attribute_;
    SetConsoleCtrlHandler(RestoreConsoleOnBreak, TRUE);
  }
}

// A file or a pipe has no keyboard behind it to wait on: a read blocks until bytes come or the
// input ends, whatever the timeout.
ConsoleDevice::Wait WindowsDevice::ReadInput(std::string& into, int) {
  if (input_ended_) return Wait::kEnded;
  char buffer[4096];
  DWORD read = 0;
  if (!ReadFile(input_, buffer, sizeof buffer, &read, nullptr) || read == 0) {
    input_ended_ = true;  // the end of a file, a closed pipe, or no input at all
    return Wait::kEnded;
  }
  into.append(buffer, read);
  return Wait::kInput;
}

bool WindowsDevice::Sleep(int timeout_ms) {
  ::Sleep(static_cast<DWORD>(std::max(timeout_ms, 0)));
  return false;
}

int64_t WindowsDevice::NowMilliseconds() {
  return static_cast<int64_t>(GetTickCount64());
}

WindowSize WindowsDevice::Size() {
  CONSOLE_SCREEN_BUFFER_INFO info;
  if (!output_is_console_ || !GetConsoleScreenBufferInfo(output_, &info))
    return {kLayoutColumns, kLayoutRows};
  return {info.srWindow.Right - info.srWindow.Left + 1,
          info.srWindow.Bottom - info.srWindow.Top + 1};
}

void WindowsDevice::WriteOutput(std::string_view bytes) {
  WriteAll(output_, bytes);
}

// The console gets its starting colour back, so a failed save does not leave it in the text's.
// Nothing is allocated: running out of memory ends the run this way too.
void WindowsDevice::EndProcess(int status, std::string_view error_message) {
  if (output_is_console_) SetConsoleTextAttribute(output_, starting_attribute_);
  if (!error_message.empty()) {
    const HANDLE errors = GetStdHandle(STD_ERROR_HANDLE);
    WriteAll(errors, error_message);
    WriteAll(errors, "\n");
  }
  std::exit(status);
}

void StartScreenBottom(int16_t row) {
  g_screen_bottom = row;
}

void ExtendScreenBottom(int16_t row) {
  if (row > g_screen_bottom) g_screen_bottom = row;
}

void MoveCursorBelowScreen() {
  CONSOLE_SCREEN_BUFFER_INFO info;
  if (!g_console_output || !GetConsoleScreenBufferInfo(g_console_output, &info)) return;
  const int row = std::max<int>(g_screen_bottom, info.dwCursorPosition.Y) + 1;
  SetConsoleCursorPosition(g_console_output, COORD{0, static_cast<SHORT>(row)});
}
