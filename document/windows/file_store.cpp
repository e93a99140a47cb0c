#include "document/file_store.h"

#include <windows.h>

#include <algorithm>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "document/in_place_save.h"

namespace {

constexpr DWORD kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;

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

// The whole path, with backslashes: ReplaceFileW takes no other.
std::wstring FullPath(const std::wstring& path) {
  std::wstring full(MAX_PATH, L'\0');
  for (;;) {
    const DWORD length =
        GetFullPathNameW(path.c_str(), static_cast<DWORD>(full.size()), full.data(), nullptr);
    if (length == 0) return path;
    if (length < full.size()) return full.substr(0, length);
    full.resize(length);
  }
}

std::wstring FolderOf(const std::wstring& path) {
  const size_t separator = path.find_last_of(L"/\\");
  return separator == std::wstring::npos ? L"." : path.substr(0, separator);
}

// The path a handle's file has once every link and junction on the way is followed, without the
// \\?\ that it comes with.
std::wstring FinalPath(HANDLE file) {
  std::wstring path(MAX_PATH, L'\0');
  for (;;) {
    const DWORD length =
        GetFinalPathNameByHandleW(file, path.data(), static_cast<DWORD>(path.size()), 0);
    if (length == 0) return L"";
    if (length < path.size()) {
      path.resize(length);
      break;
    }
    path.resize(length);
  }
  if (path.rfind(L"\\\\?\\UNC\\", 0) == 0) return L"\\\\" + path.substr(8);
  if (path.rfind(L"\\\\?\\", 0) == 0) return path.substr(4);
  return path;
}

bool SamePath(const std::wstring& one, const std::wstring& other) {
  return CompareStringOrdinal(one.c_str(), static_cast<int>(one.size()), other.c_str(),
                              static_cast<int>(other.size()), TRUE) == CSTR_EQUAL;
}

class Handle {
 public:
  explicit Handle(HANDLE handle = INVALID_HANDLE_VALUE) : handle_(handle) {}
  ~Handle() { Close(); }
  Handle(Handle&& other) noexcept : handle_(std::exchange(other.handle_, INVALID_HANDLE_VALUE)) {}
  Handle& operator=(Handle&& other) noexcept {
    std::swap(handle_, other.handle_);
    return *this;
  }
  HANDLE Get() const { return handle_; }
  bool IsOpen() const { return handle_ != INVALID_HANDLE_VALUE; }
  bool Close() { return !IsOpen() || CloseHandle(std::exchange(handle_, INVALID_HANDLE_VALUE)); }

 private:
  HANDLE handle_;
};

bool WriteAll(HANDLE file, std::string_view bytes) {
  while (!bytes.empty()) {
    const auto chunk = static_cast<DWORD>(std::min<size_t>(bytes.size(), size_t{1} << 30));
    DWORD written = 0;
    if (!WriteFile(file, bytes.data(), chunk, &written, nullptr) || written == 0) return false;
    bytes.remove_prefix(written);
  }
  return true;
}

bool Seek(HANDLE file, size_t offset) {
  LARGE_INTEGER to{};
  to.QuadPart = static_cast<LONGLONG>(offset);
  return SetFilePointerEx(file, to, nullptr, FILE_BEGIN);
}

std::optional<size_t> SizeOf(HANDLE file) {
  LARGE_INTEGER size{};
  if (!GetFileSizeEx(file, &size)) return std::nullopt;
  return static_cast<size_t>(size.QuadPart);
}

// Errors with which Windows refuses to put a new file in the document's place where writing over
// the document itself may still work: the folder takes no new file from this user, another
// program holds the document open without letting it be renamed, or a lock.
bool InPlaceMayDo(DWORD error) {
  return error == ERROR_ACCESS_DENIED || error == ERROR_SHARING_VIOLATION ||
         error == ERROR_LOCK_VIOLATION || error == ERROR_PRIVILEGE_NOT_HELD ||
         error == ERROR_UNABLE_TO_REMOVE_REPLACED || error == ERROR_NOT_SAME_DEVICE;
}

// A new file beside the document. It is made new, never opened if it exists, so it can only ever
// be this save's own file. It may take on the document's security descriptor and attributes.
Handle CreateTemporaryFile(const std::wstring& folder, std::wstring& temporary_path) {
  const std::wstring stem =
      folder + L"\\.quillomat-" + std::to_wstring(GetCurrentProcessId()) + L"-";
  constexpr DWORD kAccess =
      GENERIC_WRITE | READ_CONTROL | WRITE_DAC | WRITE_OWNER | FILE_READ_ATTRIBUTES;
  for (ULONGLONG attempt = GetTickCount64(), last = attempt + 100; attempt < last; ++attempt) {
    temporary_path = stem + std::to_wstring(attempt);
    Handle file(CreateFileW(temporary_path.c_str(), kAccess, 0, nullptr, CREATE_NEW,
                            FILE_ATTRIBUTE_NORMAL, nullptr));
    if (file.IsOpen() || GetLastError() != ERROR_FILE_EXISTS) return file;
  }
  SetLastError(ERROR_FILE_EXISTS);
  return Handle();
}

// A file's owner, group and access list, as one self-relative security descriptor.
std::optional<std::vector<BYTE>> SecurityOf(HANDLE file) {
  constexpr SECURITY_INFORMATION kWhat =
      OWNER_SECURITY_INFORMATION | GROUP_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION;
  std::vector<BYTE> descriptor(256);
  for (;;) {
    DWORD needed = 0;
    if (GetKernelObjectSecurity(file, kWhat, descriptor.data(),
                                static_cast<DWORD>(descriptor.size()), &needed)) {
      return descriptor;
    }
    if (GetLastError() != ERROR_INSUFFICIENT_BUFFER || needed <= descriptor.size()) {
      return std::nullopt;
    }
    descriptor.resize(needed);
  }
}

// The parts of a descriptor that must be the same for a file to be as private as another.
struct Security {
  PSID owner = nullptr;
  PACL dacl = nullptr;
  BOOL has_dacl = FALSE;
  bool dacl_protected = false;
};

std::optional<Security> PartsOf(std::vector<BYTE>& descriptor) {
  Security parts;
  BOOL defaulted = FALSE;
  SECURITY_DESCRIPTOR_CONTROL control = 0;
  DWORD revision = 0;
  if (!GetSecurityDescriptorOwner(descriptor.data(), &parts.owner, &defaulted) ||
      !GetSecurityDescriptorDacl(descriptor.data(), &parts.has_dacl, &parts.dacl, &defaulted) ||
      !GetSecurityDescriptorControl(descriptor.data(), &control, &revision)) {
    return std::nullopt;
  }
  parts.dacl_protected = (control & SE_DACL_PROTECTED) != 0;
  return parts;
}

bool SameAccessList(PACL one, PACL other) {
  if (!one || !other) return one == other;
  return one->AclSize == other->AclSize &&
         std::equal(reinterpret_cast<const BYTE*>(one),
                    reinterpret_cast<const BYTE*>(one) + one->AclSize,
                    reinterpret_cast<const BYTE*>(other));
}

// Gives `copy` the owner, group and access list of `original`, exactly, with no entries inherited
// afresh: a document shut to others must not open up by being saved. False when they cannot be
// read, given, or read back the same.
bool CopySecurity(HANDLE original, HANDLE copy) {
  std::optional<std::vector<BYTE>> wanted = SecurityOf(original);
  if (!wanted) return false;
  const std::optional<Security> want = PartsOf(*wanted);
  if (!want) return false;
  const SECURITY_INFORMATION what = OWNER_SECURITY_INFORMATION | GROUP_SECURITY_INFORMATION |
                                    DACL_SECURITY_INFORMATION |
                                    (want->dacl_protected ? PROTECTED_DACL_SECURITY_INFORMATION
                                                          : UNPROTECTED_DACL_SECURITY_INFORMATION);
  if (!SetKernelObjectSecurity(copy, what, wanted->data())) return false;
  std::optional<std::vector<BYTE>> given = SecurityOf(copy);
  if (!given) return false;
  const std::optional<Security> got = PartsOf(*given);
  return got && want->owner && got->owner && EqualSid(want->owner, got->owner) &&
         want->has_dacl == got->has_dacl && SameAccessList(want->dacl, got->dacl);
}

// Attributes a new file can be given and must keep: hidden, system, archive and the like.
// Compression and encryption cannot be given this way; ReplaceFileW carries them over.
constexpr DWORD kGivenAttributes = FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM |
                                   FILE_ATTRIBUTE_ARCHIVE | FILE_ATTRIBUTE_NOT_CONTENT_INDEXED |
                                   FILE_ATTRIBUTE_OFFLINE;

// Gives `copy` the attributes and creation time of `original`.
bool CopyAttributes(HANDLE original, HANDLE copy) {
  FILE_BASIC_INFO info{};
  if (!GetFileInformationByHandleEx(original, FileBasicInfo, &info, sizeof info)) return false;
  const DWORD wanted = info.FileAttributes & kGivenAttributes;
  info.FileAttributes = wanted != 0 ? wanted : FILE_ATTRIBUTE_NORMAL;
  info.LastAccessTime.QuadPart = 0;  // 0: left as they are
  info.LastWriteTime.QuadPart = 0;
  info.ChangeTime.QuadPart = 0;
  BY_HANDLE_FILE_INFORMATION now{};
  return SetFileInformationByHandle(copy, FileBasicInfo, &info, sizeof info) &&
         GetFileInformationByHandle(copy, &now) &&
         (now.dwFileAttributes & kGivenAttributes) == wanted;
}

enum class Outcome { kSaved, kFailed, kWriteInPlace };

// The new contents go to a temporary file, flushed to disk, which then takes the document's place
// in one step: the document is the old one or the new one, never half-written. With an old
// document (`old`), the new file first takes its security descriptor and attributes, and
// ReplaceFileW keeps what else Windows keeps (named streams, compression, encryption). When the
// folder or another program refuses, in a way that writing in place avoids, nothing is left
// changed and the caller does that.
Outcome ReplaceByRename(const std::wstring& document, HANDLE old, std::string_view bytes) {
  const Outcome refused = old ? Outcome::kWriteInPlace : Outcome::kFailed;
  std::wstring temporary;
  Handle file = CreateTemporaryFile(FolderOf(document), temporary);
  if (!file.IsOpen()) return InPlaceMayDo(GetLastError()) ? refused : Outcome::kFailed;
  Outcome outcome = Outcome::kFailed;
  if (old && !(CopySecurity(old, file.Get()) && CopyAttributes(old, file.Get()))) {
    outcome = Outcome::kWriteInPlace;
  } else {
    const bool written = WriteAll(file.Get(), bytes) && FlushFileBuffers(file.Get());
    if (file.Close() && written) {
      if (!old) {
        if (MoveFileExW(temporary.c_str(), document.c_str(),
                        MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
          return Outcome::kSaved;
        }
      } else if (ReplaceFileW(document.c_str(), temporary.c_str(), nullptr,
                              REPLACEFILE_IGNORE_MERGE_ERRORS, nullptr, nullptr)) {
        return Outcome::kSaved;
      } else if (GetLastError() == ERROR_UNABLE_TO_MOVE_REPLACEMENT) {
        // The old document is gone and the new one kept its temporary name: it only needs the
        // document's.
        if (MoveFileExW(temporary.c_str(), document.c_str(), MOVEFILE_WRITE_THROUGH)) {
          return Outcome::kSaved;
        }
        return Outcome::kFailed;  // the text stays in the temporary file, not to be lost
      }
      if (InPlaceMayDo(GetLastError())) outcome = refused;
    }
  }
  file.Close();
  DeleteFileW(temporary.c_str());
  return outcome;
}

// The document opened to be written over, as SaveInPlace takes it.
class DocumentInPlace {
 public:
  DocumentInPlace(Handle file, bool readable) : file_(std::move(file)), readable_(readable) {}

  std::optional<std::string> ReadAll() {
    if (!readable_ || !Seek(file_.Get(), 0)) return std::nullopt;
    std::string bytes;
    char buffer[65536];
    for (;;) {
      DWORD count = 0;
      if (!ReadFile(file_.Get(), buffer, sizeof buffer, &count, nullptr)) return std::nullopt;
      if (count == 0) return bytes;
      bytes.append(buffer, count);
    }
  }

  // Clusters for the new length are taken first. Where a file system takes no allocation size,
  // the file grows to the new length instead, which allocates on NTFS.
  bool Reserve(size_t size) {
    const std::optional<size_t> now = SizeOf(file_.Get());
    if (!now) return false;
    if (size <= *now) return true;
    FILE_ALLOCATION_INFO allocation{};
    allocation.AllocationSize.QuadPart = static_cast<LONGLONG>(size);
    if (SetFileInformationByHandle(file_.Get(), FileAllocationInfo, &allocation,
                                   sizeof allocation)) {
      return true;
    }
    const DWORD error = GetLastError();
    if (error == ERROR_DISK_FULL || error == ERROR_HANDLE_DISK_FULL) return false;
    return Seek(file_.Get(), size) && SetEndOfFile(file_.Get());
  }

  bool Overwrite(std::string_view bytes) {
    return Seek(file_.Get(), 0) && WriteAll(file_.Get(), bytes) &&
           Seek(file_.Get(), bytes.size()) && SetEndOfFile(file_.Get());
  }
  bool Flush() { return FlushFileBuffers(file_.Get()); }
  bool Close() { return file_.Close(); }
  bool IsOpen() const { return file_.IsOpen(); }

 private:
  Handle file_;
  bool readable_;
};

// The document stays the file it is, and so keeps its other links, its security descriptor, its
// attributes and its streams; through a symbolic link or a junction, the file it leads to is
// written. Another run writing in place at the same time waits for this one's lock, so the
// document ends up with one text or the other, never a mix. The lock is released on closing.
bool WriteInPlace(const std::wstring& document, std::string_view bytes) {
  Handle file(CreateFileW(document.c_str(), GENERIC_READ | GENERIC_WRITE, kShareAll, nullptr,
                          OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
  const bool readable = file.IsOpen();
  if (!readable) {  // a file one may write but not read: there will be nothing to put back
    file = Handle(CreateFileW(document.c_str(), GENERIC_WRITE, kShareAll, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, nullptr));
  }
  if (!file.IsOpen() || GetFileType(file.Get()) != FILE_TYPE_DISK) return false;
  OVERLAPPED whole{};
  if (!LockFileEx(file.Get(), LOCKFILE_EXCLUSIVE_LOCK, 0, MAXDWORD, MAXDWORD, &whole)) {
    return false;
  }
  DocumentInPlace in_place(std::move(file), readable);
  return SaveInPlace(in_place, bytes);
}

// A new file put in place of the document is still the same document only when nothing else
// names the old one (a second hard link would keep the old text) and when the name is the file
// itself, not a link or junction to it, nor reached through one.
bool RenameKeepsTheDocument(const std::wstring& document, HANDLE old,
                            const BY_HANDLE_FILE_INFORMATION& info) {
  if (info.nNumberOfLinks != 1 || (info.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT)) {
    return false;
  }
  Handle folder(CreateFileW(FolderOf(document).c_str(), FILE_READ_ATTRIBUTES, kShareAll, nullptr,
                            OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
  const std::wstring name = document.substr(document.find_last_of(L"\\") + 1);
  return folder.IsOpen() && SamePath(FinalPath(old), FinalPath(folder.Get()) + L"\\" + name);
}

}  // namespace

bool CreateFileIfMissing(const std::string& path) {
  const Handle file(CreateFileW(Wide(path).c_str(), GENERIC_WRITE, kShareAll, nullptr, OPEN_ALWAYS,
                                FILE_ATTRIBUTE_NORMAL, nullptr));
  return file.IsOpen();
}

bool ReplaceFileContents(const std::string& path, std::string_view bytes) {
  const std::wstring document = FullPath(Wide(path));
  // The name itself, not what a link there leads to (Wine opens a Unix link's target all the
  // same, which the final path then shows). Asking for the right to delete it tells at once
  // whether it may be replaced: another program holding it open without letting it be renamed
  // refuses that, and so does a document one may write but not remove.
  const Handle old(CreateFileW(document.c_str(), READ_CONTROL | FILE_READ_ATTRIBUTES | DELETE,
                               kShareAll, nullptr, OPEN_EXISTING,
                               FILE_FLAG_OPEN_REPARSE_POINT | FILE_FLAG_BACKUP_SEMANTICS, nullptr));
  if (!old.IsOpen()) {
    if (GetLastError() == ERROR_FILE_NOT_FOUND) {
      return ReplaceByRename(document, nullptr, bytes) == Outcome::kSaved;
    }
    return WriteInPlace(document, bytes);
  }
  BY_HANDLE_FILE_INFORMATION info{};
  if (!GetFileInformationByHandle(old.Get(), &info)) return false;
  const bool is_link = (info.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
  if (!is_link && (info.dwFileAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_READONLY))) {
    return false;  // a read-only document is not the user's to change
  }
  if (RenameKeepsTheDocument(document, old.Get(), info)) {
    const Outcome renamed = ReplaceByRename(document, old.Get(), bytes);
    if (renamed != Outcome::kWriteInPlace) return renamed == Outcome::kSaved;
  }
  return WriteInPlace(document, bytes);
}
