#include "document/file_store.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <optional>
#include <random>
#include <string>
#include <vector>

#include "document/posix/document_location.h"

namespace {

// Signals sent to the process (an interrupt, a hang-up, a kill, a timer, a user signal) are held
// while the document is saved, so none can leave a temporary file behind or a document written
// in place half-way; they take effect as soon as the save is over. Signals the save itself raises
// are not held: a blocked fault would strike all the same, and a held SIGXFSZ would stay pending
// past the time it is ignored.
class TerminationSignalsHeld {
 public:
  TerminationSignalsHeld() {
    sigset_t held;
    sigfillset(&held);
    for (const int own : {SIGSEGV, SIGBUS, SIGFPE, SIGILL, SIGTRAP, SIGSYS, SIGABRT, SIGXFSZ}) {
      sigdelset(&held, own);
    }
    sigprocmask(SIG_BLOCK, &held, &previous_);
  }
  ~TerminationSignalsHeld() { sigprocmask(SIG_SETMASK, &previous_, nullptr); }
  TerminationSignalsHeld(const TerminationSignalsHeld&) = delete;
  TerminationSignalsHeld& operator=(const TerminationSignalsHeld&) = delete;

 private:
  sigset_t previous_;
};

// Past a file-size limit a write must fail and be reported, not end the process, so SIGXFSZ is
// ignored while the file is written. Blocking it would not do: the signal would still strike once
// unblocked. The terminal's handler for it comes back afterwards.
class FileSizeSignalIgnored {
 public:
  FileSizeSignalIgnored() {
    struct sigaction ignore {};
    ignore.sa_handler = SIG_IGN;
    sigemptyset(&ignore.sa_mask);
    sigaction(SIGXFSZ, &ignore, &previous_);
  }
  ~FileSizeSignalIgnored() { sigaction(SIGXFSZ, &previous_, nullptr); }
  FileSizeSignalIgnored(const FileSizeSignalIgnored&) = delete;
  FileSizeSignalIgnored& operator=(const FileSizeSignalIgnored&) = delete;

 private:
  struct sigaction previous_ {};
};

bool WriteAll(int fd, std::string_view bytes) {
  while (!bytes.empty()) {
    const ssize_t written = write(fd, bytes.data(), bytes.size());
    if (written < 0 && errno == EINTR) continue;
    if (written <= 0) return false;
    bytes.remove_prefix(static_cast<size_t>(written));
  }
  return true;
}

std::optional<std::string> ReadAll(int fd) {
  std::string bytes;
  char buffer[65536];
  for (;;) {
    const ssize_t count = read(fd, buffer, sizeof buffer);
    if (count < 0 && errno == EINTR) continue;
    if (count < 0) return std::nullopt;
    if (count == 0) return bytes;
    bytes.append(buffer, static_cast<size_t>(count));
  }
}

// Writes `bytes` from the start of the file and cuts it there.
bool Overwrite(int fd, std::string_view bytes) {
  return lseek(fd, 0, SEEK_SET) == 0 && WriteAll(fd, bytes) &&
         ftruncate(fd, static_cast<off_t>(bytes.size())) == 0;
}

bool IsInOwnGroups(gid_t group) {
  if (group == getegid()) return true;
  std::vector<gid_t> groups(static_cast<size_t>(std::max(getgroups(0, nullptr), 0)));
  const int count = getgroups(static_cast<int>(groups.size()), groups.data());
  return std::find(groups.begin(), groups.begin() + std::max(count, 0), group) !=
         groups.begin() + std::max(count, 0);
}

// A new file put in place of the document is still the same document only when nothing else
// names the old one (a second hard link would keep the old text), when the folder takes a new
// file, and when the new file can have the old one's owner and group.
bool RenameKeepsTheDocument(const DocumentLocation& document, const struct stat& old) {
  const bool can_own = geteuid() == 0 || (old.st_uid == geteuid() && IsInOwnGroups(old.st_gid));
  return old.st_nlink == 1 && can_own &&
         faccessat(document.folder.Get(), ".", W_OK | X_OK, AT_EACCESS) == 0;
}

// Makes the rename itself durable. Some file systems cannot sync a folder; the new contents are
// in place either way, so this cannot fail the save.
void SyncFolder(int folder) {
  FileDescriptor readable(openat(folder, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (readable.IsOpen()) fsync(readable.Get());
}

// A new file of a name nobody else uses, in the document's folder.
FileDescriptor CreateTemporary(int folder, std::string& name) {
  static constexpr char kLetters[] = "abcdefghijklmnopqrstuvwxyz0123456789";
  std::random_device random;
  for (int attempt = 0; attempt < 100; ++attempt) {
    name = ".quillomat-";
    for (int i = 0; i < 8; ++i) name += kLetters[random() % (sizeof kLetters - 1)];
    FileDescriptor file(
        openat(folder, name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600));
    if (file.IsOpen() || errno != EEXIST) return file;
  }
  return FileDescriptor();
}

// The new contents go to a temporary file, flushed to disk, then renamed over the document in one
// step: the document is the old one or the new one, never half-written. The new file takes the
// old one's owner, group and permissions, or those of any new file.
bool ReplaceByRename(const DocumentLocation& document, const struct stat* old,
                     std::string_view bytes) {
  const int folder = document.folder.Get();
  std::string temporary;
  FileDescriptor file = CreateTemporary(folder, temporary);
  if (!file.IsOpen()) return false;
  if (old) {
    if (fchown(file.Get(), old->st_uid, old->st_gid) != 0) {
      // Checked before: the owner and group can be kept, or the document is written in place.
    }
    fchmod(file.Get(), old->st_mode & 07777);
  } else {
    const mode_t mask = umask(0);
    umask(mask);
    fchmod(file.Get(), 0666 & ~mask);
  }
  bool saved = WriteAll(file.Get(), bytes) && fsync(file.Get()) == 0;
  saved = file.Close() && saved;
  saved = saved && renameat(folder, temporary.c_str(), folder, document.name.c_str()) == 0;
  if (!saved) {
    unlinkat(folder, temporary.c_str(), 0);
    return false;
  }
  SyncFolder(folder);
  return true;
}

// The document keeps its inode, and so its other names, its owner and its folder: the old bytes
// are kept, the new ones written over them and the file cut to their length. Should any of that
// fail, the old bytes go back as far as they can.
bool WriteInPlace(const DocumentLocation& document, std::string_view bytes) {
  const int flags = O_NOFOLLOW | O_CLOEXEC;
  FileDescriptor file(openat(document.folder.Get(), document.name.c_str(), O_RDWR | flags));
  std::optional<std::string> old;
  if (file.IsOpen()) {
    old = ReadAll(file.Get());
  } else {  // a file one may write but not read: there is nothing to put back
    file = FileDescriptor(openat(document.folder.Get(), document.name.c_str(), O_WRONLY | flags));
  }
  if (!file.IsOpen()) return false;
  if (Overwrite(file.Get(), bytes) && fsync(file.Get()) == 0 && file.Close()) return true;
  if (file.IsOpen() && old) {
    Overwrite(file.Get(), *old);
    fsync(file.Get());
  }
  return false;
}

// A device or a FIFO is written to, never replaced. Opening does not wait, so a FIFO nobody reads
// fails at once; writing does, so a slow reader still gets every byte.
bool WriteThrough(const DocumentLocation& document, std::string_view bytes) {
  FileDescriptor file(openat(document.folder.Get(), document.name.c_str(),
                             O_WRONLY | O_NONBLOCK | O_NOFOLLOW | O_CLOEXEC));
  if (!file.IsOpen()) return false;
  fcntl(file.Get(), F_SETFL, fcntl(file.Get(), F_GETFL) & ~O_NONBLOCK);
  const bool written = WriteAll(file.Get(), bytes);
  return file.Close() && written;
}

}  // namespace

bool CreateFileIfMissing(const std::string& path) {
  const std::optional<DocumentLocation> document = LocateDocument(path);
  if (!document) return false;
  // Non-blocking, so that a FIFO nobody reads fails at once instead of hanging the run.
  FileDescriptor file(openat(document->folder.Get(), document->name.c_str(),
                             O_WRONLY | O_CREAT | O_NONBLOCK | O_NOFOLLOW | O_CLOEXEC, 0666));
  return file.IsOpen();
}

bool ReplaceFileContents(const std::string& path, std::string_view bytes) {
  TerminationSignalsHeld held;
  FileSizeSignalIgnored size_limit_reported;
  const std::optional<DocumentLocation> document = LocateDocument(path);
  if (!document) return false;
  struct stat old {};
  if (fstatat(document->folder.Get(), document->name.c_str(), &old, AT_SYMLINK_NOFOLLOW) != 0) {
    return errno == ENOENT && ReplaceByRename(*document, nullptr, bytes);
  }
  if (!S_ISREG(old.st_mode)) return WriteThrough(*document, bytes);
  if (RenameKeepsTheDocument(*document, old)) return ReplaceByRename(*document, &old, bytes);
  return WriteInPlace(*document, bytes);
}
