#include "document/file_store.h"

#include <windows.h>

#include <algorithm>
#include <string>

namespace {

// A name comes as typed, in the console's input code page (the ANSI one without a console); the
// file calls are given UTF-16, so the file is named as the user saw the name typed.
std::wstring Wide(const std::string& text) {
  const UINT code_page = GetConsoleCP() != 0 ? GetConsoleCP() : CP_ACP;
  const int size = static_cast<int>(text.size());
  const int length = MultiByteToWideChar(code_page, 0, text.data(), size, nullptr, 0);
  std::wstring wide(static_cast<size_t>(std::max(length, 0)), L'\0');
  MultiByteToWideChar(code_page, 0, text.data(), size, wide.data(), length);
  return wide;
}

std::wstring FolderOf(const std::wstring& path) {
  const size_t separator = path.find_last_of(L"/\\");
  return separator == std::wstring::npos ? L"." : path.substr(0, separator);
}

// A new file beside the document. It is made new, never opened if it exists, so it can only ever
// be this save's own file.
HANDLE CreateTemporaryFile(const std::wstring& folder, std::wstring& temporary_path) {
  const std::wstring stem =
      folder + L"/.quillomat-" + std::to_wstring(GetCurrentProcessId()) + L"-";
  for (ULONGLONG attempt = GetTickCount64(), last = attempt + 100; attempt < last; ++attempt) {
    temporary_path = stem + std::to_wstring(attempt);
    const HANDLE file = CreateFileW(temporary_path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                                    FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file != INVALID_HANDLE_VALUE || GetLastError() != ERROR_FILE_EXISTS) return file;
  }
  return INVALID_HANDLE_VALUE;
}

bool WriteAll(HANDLE file, std::string_view bytes) {
  while (!bytes.empty()) {
    const auto chunk = static_cast<DWORD>(std::min<size_t>(bytes.size(), size_t{1} << 30));
    DWORD written = 0;
    if (!WriteFile(file, bytes.data(), chunk, &written, nullptr) || written == 0) return false;
    bytes.remove_prefix(written);
  }
  return true;
}

}  // namespace

bool CreateFileIfMissing(const std::string& path) {
  const HANDLE file = CreateFileW(Wide(path).c_str(), GENERIC_WRITE,
                                  FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                  OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return false;
  CloseHandle(file);
  return true;
}

bool ReplaceFileContents(const std::string& path, std::string_view bytes) {
  const std::wstring wide_path = Wide(path);
  std::wstring temporary_path;
  const HANDLE file = CreateTemporaryFile(FolderOf(wide_path), temporary_path);
  if (file == INVALID_HANDLE_VALUE) return false;
  const bool written = WriteAll(file, bytes) && FlushFileBuffers(file);
  const bool closed = CloseHandle(file);
  if (written && closed &&
      MoveFileExW(temporary_path.c_str(), wide_path.c_str(),
                  MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
    return true;
  }
  DeleteFileW(temporary_path.c_str());
  return false;
}
