#include "document/file_store.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>
#if defined(__linux__)
#include <sys/xattr.h>
#endif

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <optional>
#include <random>
#include <string>
#include <utility>
#include <vector>

#include "document/in_place_save.h"
#include "document/posix/document_location.h"

namespace {

// Signals sent to the process (an interrupt, a hang-up, a kill, a timer, a user signal) are held
// while a save has something to undo (a temporary file, a document written in place half-way),
// and take effect as soon as it is over. They are held only then: waiting for a lock, or for a
// FIFO or device to take its bytes, may take for ever, and must stay interruptible. Signals the
// save itself raises are not held: a blocked fault would strike all the same, and a held SIGXFSZ
// would stay pending past the time it is ignored.
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
// file, when the new file can have the old one's owner and group, and when the document is no
// mount point (a file bound over the name, as containers do), which no rename can replace.
bool RenameKeepsTheDocument(const DocumentLocation& document, const struct stat& old) {
  const bool can_own = geteuid() == 0 || (old.st_uid == geteuid() && IsInOwnGroups(old.st_gid));
  struct stat folder {};
  return old.st_nlink == 1 && can_own && fstat(document.folder.Get(), &folder) == 0 &&
         folder.st_dev == old.st_dev &&
         faccessat(document.folder.Get(), ".", W_OK | X_OK, AT_EACCESS) == 0;
}

// Errors with which the folder refuses a new file in the document's place, where writing over the
// document itself may still work: a mount point the first check could not see (bound from the
// same file system), a read-only folder around a writable document, a security policy.
bool InPlaceMayDo(int error) {
  return error == EBUSY || error == EXDEV || error == EPERM || error == EACCES || error == EROFS;
}

#if defined(__linux__)
// The names of a file's extended attributes, each ending in a NUL: none where the file system has
// none, nothing when they cannot be read.
std::optional<std::string> AttributeNames(int fd) {
  for (;;) {
    const ssize_t size = flistxattr(fd, nullptr, 0);
    if (size < 0) return errno == ENOTSUP ? std::optional<std::string>("") : std::nullopt;
    std::string names(static_cast<size_t>(size), '\0');
    const ssize_t got = flistxattr(fd, names.data(), names.size());
    if (got >= 0) return names.substr(0, static_cast<size_t>(got));
    if (errno != ERANGE) return std::nullopt;  // else they grew meanwhile
  }
}

std::optional<std::string> AttributeValue(int fd, const char* name) {
  for (;;) {
    const ssize_t size = fgetxattr(fd, name, nullptr, 0);
    if (size < 0) return std::nullopt;
    std::string value(static_cast<size_t>(size), '\0');
    const ssize_t got = fgetxattr(fd, name, value.data(), value.size());
    if (got >= 0) return value.substr(0, static_cast<size_t>(got));
    if (errno != ERANGE) return std::nullopt;
  }
}

bool Lists(const std::string& names, const char* name) {
  for (const char* at = names.c_str(); at < names.c_str() + names.size(); at += strlen(at) + 1) {
    if (strcmp(at, name) == 0) return true;
  }
  return false;
}

// Gives `copy` the extended attributes of `original`, and no others: its access ACL, security
// labels, user attributes. An ACL sets the group bits of the mode from its mask, so this comes
// after the mode is set. False when one cannot be read, set (a label or a trusted attribute one
// has no privilege for) or taken away (one the folder's default ACL or policy gave the new file).
bool CopyAttributes(int original, int copy) {
  const std::optional<std::string> names = AttributeNames(original);
  const std::optional<std::string> own = AttributeNames(copy);
  if (!names || !own) return false;
  for (const char* name = own->c_str(); name < own->c_str() + own->size();
       name += strlen(name) + 1) {
    if (!Lists(*names, name) && fremovexattr(copy, name) != 0) return false;
  }
  for (const char* name = names->c_str(); name < names->c_str() + names->size();
       name += strlen(name) + 1) {
    const std::optional<std::string> value = AttributeValue(original, name);
    if (!value) return false;
    if (AttributeValue(copy, name) != value &&
        fsetxattr(copy, name, value->data(), value->size(), 0) != 0) {
      return false;
    }
  }
  return true;
}
#else
// Here there is no one way to read a file's ACL and attributes: not knowing what the document
// has, a new file could drop it, so the document is written in place instead.
bool CopyAttributes(int, int) {
  return false;
}
#endif

// Makes the new file `copy` stand for the document: its owner, group, permissions and extended
// attributes. False when any of them cannot be given.
bool TakesOver(int copy, const DocumentLocation& document, const struct stat& old) {
  FileDescriptor original(openat(document.folder.Get(), document.name.c_str(),
                                 O_RDONLY | O_NONBLOCK | O_NOFOLLOW | O_CLOEXEC));
  struct stat opened {};
  if (!original.IsOpen() || fstat(original.Get(), &opened) != 0 || opened.st_dev != old.st_dev ||
      opened.st_ino != old.st_ino) {
    return false;  // not readable, so its attributes are unknown; or no longer the same file
  }
  struct stat now {};
  return fchown(copy, old.st_uid, old.st_gid) == 0 && fchmod(copy, old.st_mode & 07777) == 0 &&
         CopyAttributes(original.Get(), copy) && fstat(copy, &now) == 0 &&
         now.st_mode == old.st_mode && now.st_uid == old.st_uid && now.st_gid == old.st_gid;
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

enum class Outcome { kSaved, kFailed, kWriteInPlace };

// The new contents go to a temporary file, flushed to disk, then renamed over the document in one
// step: the document is the old one or the new one, never half-written. The new file takes what
// the old one had (`old`), or the permissions of any new file. When the folder refuses the new
// file in a way that writing in place avoids, nothing is left changed and the caller does that.
Outcome ReplaceByRename(const DocumentLocation& document, const struct stat* old,
                        std::string_view bytes) {
  TerminationSignalsHeld held;
  const int folder = document.folder.Get();
  const Outcome refused = old ? Outcome::kWriteInPlace : Outcome::kFailed;
  std::string temporary;
  FileDescriptor file = CreateTemporary(folder, temporary);
  if (!file.IsOpen()) return InPlaceMayDo(errno) ? refused : Outcome::kFailed;
  Outcome outcome = Outcome::kFailed;
  if (old && !TakesOver(file.Get(), document, *old)) {
    outcome = Outcome::kWriteInPlace;
  } else {
    if (!old) {
      const mode_t mask = umask(0);
      umask(mask);
      fchmod(file.Get(), 0666 & ~mask);
    }
    const bool written = WriteAll(file.Get(), bytes) && fsync(file.Get()) == 0;
    if (file.Close() && written) {
      if (renameat(folder, temporary.c_str(), folder, document.name.c_str()) == 0) {
        SyncFolder(folder);
        return Outcome::kSaved;
      }
      if (InPlaceMayDo(errno)) outcome = refused;
    }
  }
  unlinkat(folder, temporary.c_str(), 0);
  return outcome;
}

// Waits for any other writer of the document to finish, so that two saves in place at once leave
// one text or the other, never a mix. The wait is open to signals: a stuck lock holder must not
// keep Ctrl+C, a kill or a hang-up from ending the run, and nothing has been written yet. A file
// system without locks has no other writer to wait for that this could see: the save goes on.
void WaitForOtherWriters(int fd) {
  while (flock(fd, LOCK_EX) != 0 && errno == EINTR) {
  }
}

// The document opened to be written over, as SaveInPlace takes it.
class DocumentInPlace {
 public:
  DocumentInPlace(FileDescriptor file, bool readable)
      : file_(std::move(file)), readable_(readable) {}

  std::optional<std::string> ReadAll() { return readable_ ? ::ReadAll(file_.Get()) : std::nullopt; }

  // The blocks are taken without changing the file's length, then the file grows to the new
  // length, which a file size limit refuses before an old byte is changed. A file system that
  // cannot take blocks ahead leaves that to the write itself.
  bool Reserve(size_t size) {
    const auto length = static_cast<off_t>(size);
    struct stat now {};
    if (fstat(file_.Get(), &now) != 0) return false;
    if (length <= now.st_size) return true;
#if defined(__linux__)
    if (fallocate(file_.Get(), FALLOC_FL_KEEP_SIZE, now.st_size, length - now.st_size) != 0 &&
        errno != EOPNOTSUPP && errno != ENOSYS) {
      return false;
    }
#endif
    return ftruncate(file_.Get(), length) == 0;
  }

  bool Overwrite(std::string_view bytes) {
    return ::Overwrite(file_.Get(), bytes);
  }
  bool Flush() {
    return fsync(file_.Get()) == 0;
  }
  bool Close() {
    return file_.Close();
  }
  bool IsOpen() const {
    return file_.IsOpen();
  }

 private:
  FileDescriptor file_;
  bool readable_;
};

// The document keeps its inode, and so its other names, its owner, its attributes and its folder.
bool WriteInPlace(const DocumentLocation& document, std::string_view bytes) {
  // Non-blocking, and checked once open, as a FIFO put in the document's place meanwhile would
  // otherwise hang the open or the read.
  const int flags = O_NONBLOCK | O_NOFOLLOW | O_CLOEXEC;
  FileDescriptor file(openat(document.folder.Get(), document.name.c_str(), O_RDWR | flags));
  const bool readable = file.IsOpen();
  if (!readable) {  // a file one may write but not read: there will be nothing to put back
    file = FileDescriptor(openat(document.folder.Get(), document.name.c_str(), O_WRONLY | flags));
  }
  struct stat opened {};
  if (!file.IsOpen() || fstat(file.Get(), &opened) != 0 || !S_ISREG(opened.st_mode)) return false;
  WaitForOtherWriters(file.Get());  // held until the file is closed
  TerminationSignalsHeld held;
  DocumentInPlace in_place(std::move(file), readable);
  return SaveInPlace(in_place, bytes);
}

// A device or a FIFO is written to, never replaced. Opening does not wait, so a FIFO nobody reads
// fails at once; writing does, so a slow reader still gets every byte, and a reader that stops
// taking them leaves the run to be interrupted: there is nothing to undo.
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
  // An existing file is opened without O_CREAT, which the kernel's protected_regular refuses on
  // another user's file in a shared sticky folder, even to root; a missing one is created with
  // O_EXCL, and if another process creates or removes it in between, the pair is tried again.
  // Non-blocking, so that a FIFO nobody reads fails at once instead of hanging the run.
  const int flags = O_WRONLY | O_NONBLOCK | O_NOFOLLOW | O_CLOEXEC;
  for (int attempt = 0; attempt < 100; ++attempt) {
    if (FileDescriptor(openat(document->folder.Get(), document->name.c_str(), flags)).IsOpen()) {
      return true;
    }
    if (errno != ENOENT) return false;
    if (FileDescriptor(
            openat(document->folder.Get(), document->name.c_str(), flags | O_CREAT | O_EXCL, 0666))
            .IsOpen()) {
      return true;
    }
    if (errno != EEXIST) return false;
  }
  return false;
}

bool ReplaceFileContents(const std::string& path, std::string_view bytes) {
  FileSizeSignalIgnored size_limit_reported;
  const std::optional<DocumentLocation> document = LocateDocument(path);
  if (!document) return false;
  struct stat old {};
  if (fstatat(document->folder.Get(), document->name.c_str(), &old, AT_SYMLINK_NOFOLLOW) != 0) {
    return errno == ENOENT && ReplaceByRename(*document, nullptr, bytes) == Outcome::kSaved;
  }
  if (!S_ISREG(old.st_mode)) return WriteThrough(*document, bytes);
  if (RenameKeepsTheDocument(*document, old)) {
    const Outcome renamed = ReplaceByRename(*document, &old, bytes);
    if (renamed != Outcome::kWriteInPlace) return renamed == Outcome::kSaved;
  }
  return WriteInPlace(*document, bytes);
}
