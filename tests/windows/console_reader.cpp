// Prints what the console of a running Quillomat.exe shows, for the end-to-end check under Wine:
// a line with the cursor's column and row in the window, then each row of the window as UTF-8
// text followed by a line of its cells' attributes, two hex digits a cell.
#include <windows.h>
// After windows.h, whose types it uses.
#include <tlhelp32.h>

#include <cstdio>
#include <cwchar>
#include <string>
#include <vector>

namespace {

DWORD FindProgram() {
  const HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
  PROCESSENTRY32W entry{};
  entry.dwSize = sizeof entry;
  DWORD found = 0;
  for (BOOL more = Process32FirstW(snapshot, &entry); more;
       more = Process32NextW(snapshot, &entry)) {
    if (_wcsicmp(entry.szExeFile, L"Quillomat.exe") == 0) found = entry.th32ProcessID;
  }
  CloseHandle(snapshot);
  return found;
}

}  // namespace

int main() {
  const DWORD program = FindProgram();
  FreeConsole();
  if (program == 0 || !AttachConsole(program)) return 2;
  const HANDLE screen =
      CreateFileW(L"CONOUT$", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                  nullptr, OPEN_EXISTING, 0, nullptr);
  CONSOLE_SCREEN_BUFFER_INFO info;
  if (!GetConsoleScreenBufferInfo(screen, &info)) return 3;
  const SMALL_RECT window = info.srWindow;
  const SHORT width = static_cast<SHORT>(window.Right - window.Left + 1);
  const SHORT height = static_cast<SHORT>(window.Bottom - window.Top + 1);
  std::vector<CHAR_INFO> cells(static_cast<size_t>(width) * height);
  SMALL_RECT region = window;
  if (!ReadConsoleOutputW(screen, cells.data(), COORD{width, height}, COORD{0, 0}, &region)) {
    return 4;
  }
  std::printf("%d %d\n", info.dwCursorPosition.X - window.Left,
              info.dwCursorPosition.Y - window.Top);
  for (int row = 0; row < height; ++row) {
    std::wstring text;
    std::string attributes;
    for (int column = 0; column < width; ++column) {
      const CHAR_INFO& cell = cells[static_cast<size_t>(row) * width + column];
      text += cell.Char.UnicodeChar;
      char hex[3];
      std::snprintf(hex, sizeof hex, "%02x", cell.Attributes & 0xFF);
      attributes += hex;
    }
    std::string utf8(text.size() * 3, '\0');
    utf8.resize(static_cast<size_t>(
        WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), utf8.data(),
                            static_cast<int>(utf8.size()), nullptr, nullptr)));
    std::printf("%s\n%s\n", utf8.c_str(), attributes.c_str());
  }
  return 0;
}
