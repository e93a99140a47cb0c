#include "document/file_store.h"

#include <fcntl.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>

namespace {

// Signals sent to the process (an interrupt, a hang-up, a kill, a timer, a user signal) are held
// while a temporary file exists, so none can leave one behind; they take effect as soon as the
// file is renamed or removed. Signals the save itself raises are not held: a blocked fault would
// strike all the same, and a held SIGXFSZ would stay pending past the time it is ignored.
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

// A symbolic link is followed, so the file it names gets the new contents and the link stays.
std::string ResolvedTarget(const std::string& path) {
  struct stat status;
  if (lstat(path.c_str(), &status) != 0 || !S_ISLNK(status.st_mode)) return path;
  char resolved[PATH_MAX];
  return realpath(path.c_str(), resolved) ? std::string(resolved) : path;
}

std::string FolderOf(const std::string& path) {
  const size_t slash = path.rfind('/');
  if (slash == std::string::npos) return ".";
  return slash == 0 ? "/" : path.substr(0, slash);
}

// The replacement gets the permissions and owner of the file it replaces, or those of any new
// file when there is none. Failing to copy them loses no data, so it does not fail the save.
void CopyPermissions(const std::string& path, int fd) {
  struct stat status;
  if (stat(path.c_str(), &status) == 0) {
    if (fchown(fd, status.st_uid, status.st_gid) != 0) {
      // Only the owner's group or root may change ownership; the file stays the writer's own.
    }
    fchmod(fd, status.st_mode & 07777);
    return;
  }
  const mode_t mask = umask(0);
  umask(mask);
  fchmod(fd, 0666 & ~mask);
}

bool WriteAll(int fd, std::string_view bytes) {
  while (!bytes.empty()) {
    const ssize_t written = write(fd, bytes.data(), bytes.size());
    if (written < 0 && errno == EINTR) continue;
    if (written <= 0) return false;
    bytes.remove_prefix(static_cast<size_t>(written));
  }
  return true;
}

// Makes the rename itself durable. Some file systems cannot sync a folder; the new contents are
// in place either way, so this cannot fail the save.
void SyncFolder(const std::string& folder) {
  const int fd = open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return;
  fsync(fd);
  close(fd);
}

}  // namespace

bool CreateFileIfMissing(const std::string& path) {
  // Non-blocking, so that a FIFO nobody reads fails at once instead of hanging the run.
  const int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_NONBLOCK | O_CLOEXEC, 0666);
  if (fd < 0) return false;
  close(fd);
  return true;
}

bool ReplaceFileContents(const std::string& path, std::string_view bytes) {
  const std::string target = ResolvedTarget(path);
  const std::string folder = FolderOf(target);
  TerminationSignalsHeld held;
  FileSizeSignalIgnored size_limit_reported;
  std::string temporary = folder + "/.quillomat-XXXXXX";
  const int fd = mkostemp(temporary.data(), O_CLOEXEC);
  if (fd < 0) return false;
  CopyPermissions(target, fd);
  bool saved = WriteAll(fd, bytes) && fsync(fd) == 0;
  saved = close(fd) == 0 && saved;
  saved = saved && rename(temporary.c_str(), target.c_str()) == 0;
  if (!saved) {
    unlink(temporary.c_str());
    return false;
  }
  SyncFolder(folder);
  return true;
}
