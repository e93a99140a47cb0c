// Prints what the console of a running Quillomat.exe shows, for the end-to-end check under Wine:
// a line with the cursor's column and row in the window, the window's top row in the buffer and
// the console's current attribute, then each row of the window as UTF-8 text followed by a line
// of its cells' attributes, two hex digits a cell.
// Usage: quillomat_console_reader [--buffer] [PROGRAM]
//   --buffer reads every row of the buffer, and the cursor's row in it, instead of the window;
//   PROGRAM (Quillomat.exe unless given) is the process whose console is read.
// Or: quillomat_console_reader --host COMMAND_LINE [CODE_PAGE]
//   runs the command in this console, set to the code page if one is given, and then stays, for
//   as long as it is let, so that what the command left behind can be read: a shell in its place
//   (Wine's cmd) would end with it on Ctrl+C.
#include <windows.h>
// After windows.h, whose types it uses.
#include <tlhelp32.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

// A process of that name other than this one.
DWORD FindProgram(const char* name) {
  const HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
  PROCESSENTRY32 entry{};
  entry.dwSize = sizeof entry;
  DWORD found = 0;
  for (BOOL more = Process32First(snapshot, &entry); more; more = Process32Next(snapshot, &entry)) {
    if (_stricmp(entry.szExeFile, name) == 0 && entry.th32ProcessID != GetCurrentProcessId()) {
      found = entry.th32ProcessID;
    }
  }
  CloseHandle(snapshot);
  return found;
}

// Ctrl+C is for the command: the host lets it pass without ending.
BOOL WINAPI IgnoreBreak(DWORD) {
  return TRUE;
}

int Host(char* command_line, UINT code_page) {
  SetConsoleCtrlHandler(IgnoreBreak, TRUE);
  if (code_page != 0 && !(SetConsoleCP(code_page) && SetConsoleOutputCP(code_page))) return 2;
  STARTUPINFOA startup{};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION process{};
  if (!CreateProcessA(nullptr, command_line, nullptr, nullptr, TRUE, 0, nullptr, nullptr, &startup,
                      &process)) {
    return 2;
  }
  WaitForSingleObject(process.hProcess, INFINITE);
  for (;;) Sleep(INFINITE);
}

}  // namespace

int main(int argc, char** argv) {
  if ((argc == 3 || argc == 4) && std::strcmp(argv[1], "--host") == 0) {
    return Host(argv[2], argc == 4 ? static_cast<UINT>(std::atoi(argv[3])) : 0);
  }
  bool whole_buffer = false;
  const char* name = "Quillomat.exe";
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--buffer") == 0) {
      whole_buffer = true;
    } else {
      name = argv[i];
    }
  }
  const DWORD program = FindProgram(name);
  FreeConsole();
  if (program == 0 || !AttachConsole(program)) return 2;
  const HANDLE screen =
      CreateFileW(L"CONOUT$", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                  nullptr, OPEN_EXISTING, 0, nullptr);
  CONSOLE_SCREEN_BUFFER_INFO info;
  if (!GetConsoleScreenBufferInfo(screen, &info)) return 3;
  const SMALL_RECT window = whole_buffer ? SMALL_RECT{0, 0, static_cast<SHORT>(info.dwSize.X - 1),
                                                      static_cast<SHORT>(info.dwSize.Y - 1)}
                                         : info.srWindow;
  const SHORT width = static_cast<SHORT>(window.Right - window.Left + 1);
  const SHORT height = static_cast<SHORT>(window.Bottom - window.Top + 1);
  std::vector<CHAR_INFO> cells(static_cast<size_t>(width) * height);
  SMALL_RECT region = window;
  if (!ReadConsoleOutputW(screen, cells.data(), COORD{width, height}, COORD{0, 0}, &region)) {
    return 4;
  }
  std::printf("%d %d %d %d\n", info.dwCursorPosition.X - window.Left,
              info.dwCursorPosition.Y - window.Top, info.srWindow.Top, info.wAttributes);
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
