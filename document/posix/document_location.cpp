#include "document/posix/document_location.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>

namespace {

// Folders are opened only to look things up in them, which needs no permission to read them:
// O_PATH on Linux, POSIX's O_SEARCH where the system has it (macOS 13 and later, recent FreeBSD).
// Elsewhere they are opened for reading, so there a folder one may search but not read cannot be
// on the way to a document.
#if defined(O_PATH)
constexpr int kFolderFlags = O_PATH | O_DIRECTORY | O_CLOEXEC;
#elif defined(O_SEARCH)
constexpr int kFolderFlags = O_SEARCH | O_DIRECTORY | O_CLOEXEC;
#else
constexpr int kFolderFlags = O_RDONLY | O_DIRECTORY | O_CLOEXEC;
#endif
// Links followed in one lookup at the most, so that a loop of links ends.
constexpr int kMostLinks = 32;

bool MayFollow(const struct stat& link, int holder) {
  struct stat folder {};
  return link.st_uid == geteuid() || (fstat(holder, &folder) == 0 && link.st_uid == folder.st_uid);
}

// The link's target, when it may be followed.
std::optional<std::string> TrustedTarget(int holder, const std::string& name, int& links_left) {
  struct stat link {};
  if (fstatat(holder, name.c_str(), &link, AT_SYMLINK_NOFOLLOW) != 0 || !S_ISLNK(link.st_mode)) {
    return std::nullopt;
  }
  if (!MayFollow(link, holder) || --links_left < 0) return std::nullopt;
  std::string target(256, '\0');
  for (;;) {
    const ssize_t length = readlinkat(holder, name.c_str(), target.data(), target.size());
    if (length < 0) return std::nullopt;
    if (static_cast<size_t>(length) < target.size()) return target.substr(0, length);
    target.resize(target.size() * 2);
  }
}

bool IsLink(int holder, const std::string& name) {
  struct stat entry {};
  return fstatat(holder, name.c_str(), &entry, AT_SYMLINK_NOFOLLOW) == 0 && S_ISLNK(entry.st_mode);
}

FileDescriptor OpenFolder(int start, const std::string& path, int& links_left);

// The folder `name` in `holder`, through a trusted link if it is one.
FileDescriptor OpenSubfolder(int holder, const std::string& name, int& links_left) {
  if (!IsLink(holder, name))
    return FileDescriptor(openat(holder, name.c_str(), kFolderFlags | O_NOFOLLOW));
  const std::optional<std::string> target = TrustedTarget(holder, name, links_left);
  return target ? OpenFolder(holder, *target, links_left) : FileDescriptor();
}

// The folder a path names, from `start` or from the root for an absolute path.
FileDescriptor OpenFolder(int start, const std::string& path, int& links_left) {
  FileDescriptor folder(openat(start, path.starts_with('/') ? "/" : ".", kFolderFlags));
  for (size_t at = 0; folder.IsOpen() && at < path.size();) {
    const size_t end = std::min(path.find('/', at), path.size());
    const std::string name = path.substr(at, end - at);
    if (!name.empty() && name != ".") folder = OpenSubfolder(folder.Get(), name, links_left);
    at = end + 1;
  }
  return folder;
}

std::optional<DocumentLocation> Locate(int start, const std::string& path, int& links_left) {
  const size_t slash = path.rfind('/');
  const std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
  if (name.empty() || name == "." || name == "..") return std::nullopt;
  const std::string folder_path = slash == std::string::npos ? "" : path.substr(0, slash + 1);
  FileDescriptor folder = OpenFolder(start, folder_path, links_left);
  if (!folder.IsOpen()) return std::nullopt;
  if (!IsLink(folder.Get(), name)) return DocumentLocation{std::move(folder), name};
  const std::optional<std::string> target = TrustedTarget(folder.Get(), name, links_left);
  if (!target) return std::nullopt;
  return Locate(folder.Get(), *target, links_left);
}

}  // namespace

bool FileDescriptor::Close() {
  const int fd = std::exchange(fd_, -1);
  return fd < 0 || close(fd) == 0;
}

std::optional<DocumentLocation> LocateDocument(const std::string& path) {
  int links_left = kMostLinks;
  return Locate(AT_FDCWD, path, links_left);
}
