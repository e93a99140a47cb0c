#include "document/file_store.h"

#include <windows.h>

#include <algorithm>
#include <string>

namespace {

std::string FolderOf(const std::string& path) {
  const size_t separator = path.find_last_of("/\\");
  return separator == std::string::npos ? "." : path.substr(0, separator);
}

// A new file beside the document. It is made new, never opened if it exists, so it can only ever
// be this save's own file.
HANDLE CreateTemporaryFile(const std::string& folder, std::string& temporary_path) {
  const std::string stem = folder + "/.quillomat-" + std::to_string(GetCurrentProcessId()) + "-";
  for (ULONGLONG attempt = GetTickCount64(), last = attempt + 100; attempt < last; ++attempt) {
    temporary_path = stem + std::to_string(attempt);
    const HANDLE file = CreateFileA(temporary_path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
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
  const HANDLE file = CreateFileA(path.c_str(), GENERIC_WRITE,
                                  FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                  OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return false;
  CloseHandle(file);
  return true;
}

bool ReplaceFileContents(const std::string& path, std::string_view bytes) {
  std::string temporary_path;
  const HANDLE file = CreateTemporaryFile(FolderOf(path), temporary_path);
  if (file == INVALID_HANDLE_VALUE) return false;
  const bool written = WriteAll(file, bytes) && FlushFileBuffers(file);
  const bool closed = CloseHandle(file);
  if (written && closed &&
      MoveFileExA(temporary_path.c_str(), path.c_str(),
                  MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
    return true;
  }
  DeleteFileA(temporary_path.c_str());
  return false;
}
