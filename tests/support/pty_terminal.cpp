#include "pty_terminal.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vterm.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <stdexcept>

extern char** environ;

namespace quillomat_test {
namespace {

using Clock = std::chrono::steady_clock;

constexpr int kWriteTimeoutMs = 5000;
constexpr int kPollSliceMs = 10;       // child exit has no fd to poll, so waits wake this often
constexpr int kMaxReadsPerPump = 256;  // keeps a flooding child from trapping Pump() forever
constexpr uint32_t kWideCharTail = 0xFFFFFFFF;  // libvterm's marker for a wide char's right half

[[noreturn]] void ThrowErrno(const std::string& what) {
  throw std::runtime_error(what + ": " + std::strerror(errno));
}

int RemainingMs(Clock::time_point deadline) {
  auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
  return static_cast<int>(std::max<std::chrono::milliseconds::rep>(left.count(), 0));
}

void WaitUntilReady(int fd, short events, int timeout_ms) {
  pollfd p{fd, events, 0};
  poll(&p, 1, timeout_ms);  // EINTR or a timeout just means "look again"
}

// A write to a pipe whose reader has gone must fail with EPIPE, not kill the test with SIGPIPE.
ssize_t WriteWithoutSigpipe(int fd, std::string_view bytes) {
  sigset_t pipe_set;
  sigset_t old_mask;
  sigemptyset(&pipe_set);
  sigaddset(&pipe_set, SIGPIPE);
  pthread_sigmask(SIG_BLOCK, &pipe_set, &old_mask);
  sigset_t pending;
  sigpending(&pending);
  const bool was_pending = sigismember(&pending, SIGPIPE) == 1;

  ssize_t n = write(fd, bytes.data(), bytes.size());
  const int saved_errno = errno;
  if (n < 0 && saved_errno == EPIPE && !was_pending) {
    timespec no_wait{};
    sigtimedwait(&pipe_set, nullptr, &no_wait);  // swallow the SIGPIPE this write raised
  }
  pthread_sigmask(SIG_SETMASK, &old_mask, nullptr);
  errno = saved_errno;
  return n;
}

void AppendUtf8(char32_t c, std::string& out) {
  if (c < 0x80) {
    out += static_cast<char>(c);
  } else if (c < 0x800) {
    out += static_cast<char>(0xC0 | (c >> 6));
    out += static_cast<char>(0x80 | (c & 0x3F));
  } else if (c < 0x10000) {
    out += static_cast<char>(0xE0 | (c >> 12));
    out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (c & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | (c >> 18));
    out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
    out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (c & 0x3F));
  }
}

// libvterm 0.1.4 keeps SGR palette colours as indexed VTermColors; the defaults are RGB values
// tagged with a DEFAULT flag, so the flag must be checked before the type.
int ColourCode(const VTermColor& colour, bool is_default) {
  if (is_default) return -1;
  if (VTERM_COLOR_IS_INDEXED(&colour)) return colour.indexed.idx;
  return Cell::kRgbColour;
}

// ---- Child side of Start(): only async-signal-safe calls between fork and exec. ----

enum ChildStage : int { kSetsid, kOpenTty, kControllingTty, kDupFds, kChdir, kExec };

const char* StageName(int stage) {
  switch (stage) {
    case kSetsid:
      return "setsid";
    case kOpenTty:
      return "open pty slave";
    case kControllingTty:
      return "TIOCSCTTY";
    case kDupFds:
      return "redirect stdio";
    case kChdir:
      return "chdir";
    default:
      return "exec";
  }
}

struct ChildSetup {
  const char* slave_path;
  int stdio_fds[3];  // -1: use the pty
  const char* dir;
  char* const* argv;
  char* const* envp;
  int error_fd;  // close-on-exec pipe: a successful exec closes it, a failure writes into it
};

[[noreturn]] void FailInChild(int error_fd, int stage) {
  const int report[2] = {stage, errno};
  ssize_t ignored = write(error_fd, report, sizeof report);
  (void)ignored;
  _exit(127);
}

void ResetSignalsInChild() {
  // Ignored dispositions and the blocked mask survive exec; the program deserves a clean slate.
  struct sigaction dfl {};
  dfl.sa_handler = SIG_DFL;
  sigemptyset(&dfl.sa_mask);
  for (int sig = 1; sig < NSIG; ++sig) sigaction(sig, &dfl, nullptr);
  sigset_t none;
  sigemptyset(&none);
  sigprocmask(SIG_SETMASK, &none, nullptr);
}

[[noreturn]] void RunChild(const ChildSetup& s) {
  if (setsid() < 0) FailInChild(s.error_fd, kSetsid);
  const int tty = open(s.slave_path, O_RDWR);
  if (tty < 0) FailInChild(s.error_fd, kOpenTty);
  if (ioctl(tty, TIOCSCTTY, 0) < 0) FailInChild(s.error_fd, kControllingTty);

  // Copy every source above 2 first, so dup2 onto 0..2 cannot clobber one still needed.
  int sources[3];
  for (int i = 0; i < 3; ++i) {
    sources[i] = fcntl(s.stdio_fds[i] >= 0 ? s.stdio_fds[i] : tty, F_DUPFD_CLOEXEC, 3);
    if (sources[i] < 0) FailInChild(s.error_fd, kDupFds);
  }
  for (int i = 0; i < 3; ++i) {
    if (dup2(sources[i], i) < 0) FailInChild(s.error_fd, kDupFds);
  }
  if (tty > 2) close(tty);
  // Stray fds the test process forgot to mark close-on-exec must not leak into the program.
  close_range(3, ~0U, CLOSE_RANGE_CLOEXEC);

  ResetSignalsInChild();
  if (chdir(s.dir) < 0) FailInChild(s.error_fd, kChdir);
  execve(s.argv[0], s.argv, s.envp);
  FailInChild(s.error_fd, kExec);
}

std::vector<std::string> ChildEnvironment(const StartOptions& options) {
  std::vector<std::string> overrides = options.env;
  if (!options.term.empty()) overrides.insert(overrides.begin(), "TERM=" + options.term);
  auto name_of = [](const std::string& entry) { return entry.substr(0, entry.find('=')); };

  std::vector<std::string> env;
  for (char** e = environ; *e != nullptr; ++e) {
    const std::string entry = *e;
    const bool overridden = std::any_of(overrides.begin(), overrides.end(), [&](const auto& o) {
      return name_of(o) == name_of(entry);
    });
    if (!overridden) env.push_back(entry);
  }
  env.insert(env.end(), overrides.begin(), overrides.end());
  return env;
}

std::vector<char*> CStringArray(std::vector<std::string>& strings) {
  std::vector<char*> out;
  for (auto& s : strings) out.push_back(s.data());
  out.push_back(nullptr);
  return out;
}

}  // namespace

// ---- libvterm callbacks ----

struct VtermHooks {
  static int SetTermProp(VTermProp prop, VTermValue* val, void* user) {
    auto* term = static_cast<PtyTerminal*>(user);
    if (prop == VTERM_PROP_CURSORVISIBLE) term->cursor_visible_ = val->boolean != 0;
    if (prop == VTERM_PROP_ALTSCREEN) term->alt_screen_ = val->boolean != 0;
    return 1;
  }

  // Answers the terminal gives (device attributes, cursor reports) go back to the program.
  static void Output(const char* bytes, size_t len, void* user) {
    static_cast<PtyTerminal*>(user)->pending_replies_.append(bytes, len);
  }

  static constexpr VTermScreenCallbacks kScreenCallbacks = {
      .damage = nullptr,
      .moverect = nullptr,
      .movecursor = nullptr,
      .settermprop = &SetTermProp,
      .bell = nullptr,
      .resize = nullptr,
      .sb_pushline = nullptr,
      .sb_popline = nullptr,
  };
};

// ---- Setup and teardown ----

PtyTerminal::PtyTerminal(int cols, int rows) : cols_(cols), rows_(rows) {
  if (cols <= 0 || rows <= 0) throw std::invalid_argument("PtyTerminal: size must be positive");
  try {
    OpenPty();
    SetUpVterm();
  } catch (...) {
    CloseFd(slave_fd_);
    CloseFd(master_fd_);
    if (vt_ != nullptr) vterm_free(vt_);
    throw;
  }
}

PtyTerminal::~PtyTerminal() {
  KillChild();
  CloseFd(stdin_writer_fd_);
  CloseFd(master_fd_);
  CloseFd(slave_fd_);
  vterm_free(vt_);
}

void PtyTerminal::CloseFd(int& fd) {
  if (fd >= 0) close(fd);
  fd = -1;
}

void PtyTerminal::OpenPty() {
  master_fd_ = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
  if (master_fd_ < 0) ThrowErrno("posix_openpt");
  // The child must never inherit the master; reads must never block a test.
  if (fcntl(master_fd_, F_SETFD, FD_CLOEXEC) < 0) ThrowErrno("fcntl(FD_CLOEXEC)");
  if (fcntl(master_fd_, F_SETFL, O_NONBLOCK) < 0) ThrowErrno("fcntl(O_NONBLOCK)");
  if (grantpt(master_fd_) < 0) ThrowErrno("grantpt");
  if (unlockpt(master_fd_) < 0) ThrowErrno("unlockpt");

  char name[128];
  if (ptsname_r(master_fd_, name, sizeof name) != 0) ThrowErrno("ptsname_r");
  slave_path_ = name;
  // Held open for our whole life: termios stays readable after the child exits, and the
  // master keeps returning buffered output instead of EIO.
  slave_fd_ = open(name, O_RDWR | O_NOCTTY | O_CLOEXEC);
  if (slave_fd_ < 0) ThrowErrno("open " + slave_path_);

  termios modes;
  if (tcgetattr(slave_fd_, &modes) < 0) ThrowErrno("tcgetattr");
  // A UTF-8 terminal emulator sets this, so canonical line editing erases whole characters.
  modes.c_iflag |= IUTF8;
  if (tcsetattr(slave_fd_, TCSANOW, &modes) < 0) ThrowErrno("tcsetattr");

  winsize size{};
  size.ws_row = static_cast<unsigned short>(rows_);
  size.ws_col = static_cast<unsigned short>(cols_);
  if (ioctl(master_fd_, TIOCSWINSZ, &size) < 0) ThrowErrno("TIOCSWINSZ");
}

void PtyTerminal::SetUpVterm() {
  vt_ = vterm_new(rows_, cols_);  // note: libvterm takes rows first
  if (vt_ == nullptr) throw std::runtime_error("vterm_new failed");
  vterm_set_utf8(vt_, 1);
  vterm_output_set_callback(vt_, &VtermHooks::Output, this);
  screen_ = vterm_obtain_screen(vt_);
  // Callbacks first, so the reset's initial cursor/alt-screen properties are observed too.
  vterm_screen_set_callbacks(screen_, &VtermHooks::kScreenCallbacks, this);
  vterm_screen_reset(screen_, 1);
  vterm_screen_enable_altscreen(screen_, 1);  // without it libvterm refuses ?1049h
}

// ---- Running the child ----

void PtyTerminal::Start(const std::vector<std::string>& argv, const std::string& dir,
                        const StartOptions& options) {
  if (Running()) throw std::logic_error("PtyTerminal::Start: a child is already running");
  if (argv.empty()) throw std::invalid_argument("PtyTerminal::Start: empty argv");

  CloseFd(stdin_writer_fd_);  // a pipe left from an earlier child
  std::vector<std::string> argv_copy = argv;
  std::vector<std::string> env = ChildEnvironment(options);
  std::vector<char*> c_argv = CStringArray(argv_copy);
  std::vector<char*> c_env = CStringArray(env);

  // Fds opened here are ours to close once the child holds its copies.
  std::vector<int> owned;
  auto close_owned = [&] {
    for (int& fd : owned) CloseFd(fd);
  };
  auto open_redirect = [&](const Redirect& r, bool for_input) -> int {
    switch (r.kind) {
      case Redirect::Kind::kPty:
        return -1;
      case Redirect::Kind::kFd:
        return r.fd;
      case Redirect::Kind::kFile: {
        const int flags = for_input ? O_RDONLY : (O_WRONLY | O_CREAT | O_TRUNC);
        const int fd = open(r.path.c_str(), flags | O_CLOEXEC, 0644);
        if (fd < 0) ThrowErrno("open " + r.path);
        owned.push_back(fd);
        return fd;
      }
      case Redirect::Kind::kPipe: {
        if (!for_input) throw std::invalid_argument("Redirect::Pipe() is for stdin only");
        int ends[2];
        if (pipe2(ends, O_CLOEXEC) < 0) ThrowErrno("pipe2");
        owned.push_back(ends[0]);
        stdin_writer_fd_ = ends[1];
        fcntl(stdin_writer_fd_, F_SETFL, O_NONBLOCK);  // our end only; the child's stays blocking
        return ends[0];
      }
    }
    return -1;
  };

  ChildSetup setup{};
  int error_pipe[2] = {-1, -1};
  try {
    setup.stdio_fds[0] = open_redirect(options.stdin_from, true);
    setup.stdio_fds[1] = open_redirect(options.stdout_to, false);
    setup.stdio_fds[2] = open_redirect(options.stderr_to, false);
    if (pipe2(error_pipe, O_CLOEXEC) < 0) ThrowErrno("pipe2");
  } catch (...) {
    close_owned();
    CloseFd(stdin_writer_fd_);
    throw;
  }
  setup.slave_path = slave_path_.c_str();
  setup.dir = dir.c_str();
  setup.argv = c_argv.data();
  setup.envp = c_env.data();
  setup.error_fd = error_pipe[1];

  const pid_t pid = fork();
  if (pid == 0) RunChild(setup);
  close(error_pipe[1]);
  close_owned();
  if (pid < 0) {
    close(error_pipe[0]);
    ThrowErrno("fork");
  }
  pid_ = pid;
  exited_ = false;
  status_ = 0;

  // Blocks only until exec (or failure): the pipe closes on exec.
  int report[2];
  ssize_t n;
  do {
    n = read(error_pipe[0], report, sizeof report);
  } while (n < 0 && errno == EINTR);
  close(error_pipe[0]);
  if (n == static_cast<ssize_t>(sizeof report)) {
    TryReap(0);
    pid_ = -1;
    CloseFd(stdin_writer_fd_);
    errno = report[1];
    const std::string& subject = report[0] == kChdir ? dir : argv[0];
    ThrowErrno(std::string("PtyTerminal::Start: ") + StageName(report[0]) + " " + subject);
  }
}

bool PtyTerminal::TryReap(int options) {
  if (pid_ <= 0 || exited_) return exited_;
  int status = 0;
  pid_t r;
  do {
    r = waitpid(pid_, &status, options);
  } while (r < 0 && errno == EINTR);
  if (r == pid_) {
    exited_ = true;
    status_ = status;
  } else if (r < 0) {
    exited_ = true;  // ECHILD: someone else reaped it (e.g. SIGCHLD ignored); status is lost
    status_ = -1;
  }
  return exited_;
}

void PtyTerminal::KillChild() {
  if (!Running()) return;
  kill(-pid_, SIGKILL);  // the child leads its own process group: take helpers down with it
  kill(pid_, SIGKILL);
  TryReap(0);
}

void PtyTerminal::Signal(int sig) {
  if (Running()) kill(pid_, sig);
}

// ---- Input to the child ----

void PtyTerminal::WriteWhilePumping(int fd, std::string_view bytes) {
  const auto deadline = Clock::now() + std::chrono::milliseconds(kWriteTimeoutMs);
  while (!bytes.empty()) {
    const ssize_t n = WriteWithoutSigpipe(fd, bytes);
    if (n > 0) {
      bytes.remove_prefix(static_cast<size_t>(n));
      continue;
    }
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 && errno != EAGAIN) ThrowErrno("PtyTerminal: write");
    // Full: the child may itself be blocked writing output, so drain it while we wait for room.
    Pump();
    if (RemainingMs(deadline) == 0) throw std::runtime_error("PtyTerminal: write timed out");
    WaitUntilReady(fd, POLLOUT, std::min(kPollSliceMs, RemainingMs(deadline)));
  }
  Pump();
}

void PtyTerminal::Send(std::string_view keys) {
  WriteWhilePumping(master_fd_, keys);
}

void PtyTerminal::WriteStdin(std::string_view bytes) {
  if (stdin_writer_fd_ < 0) throw std::logic_error("WriteStdin needs Redirect::Pipe() stdin");
  WriteWhilePumping(stdin_writer_fd_, bytes);
}

void PtyTerminal::CloseStdin() {
  CloseFd(stdin_writer_fd_);
}

void PtyTerminal::PrintAsShell(std::string_view bytes) {
  // The slave fd is blocking (the child shares its file description), so write in pieces small
  // enough to fit the pty buffer and empty it between them.
  constexpr size_t kChunk = 512;
  while (!bytes.empty()) {
    const std::string_view chunk = bytes.substr(0, kChunk);
    const ssize_t n = write(slave_fd_, chunk.data(), chunk.size());
    if (n < 0 && errno != EINTR) ThrowErrno("PtyTerminal::PrintAsShell");
    if (n > 0) bytes.remove_prefix(static_cast<size_t>(n));
    DrainOutput();
  }
}

void PtyTerminal::Resize(int cols, int rows) {
  if (cols <= 0 || rows <= 0) throw std::invalid_argument("PtyTerminal::Resize: bad size");
  Pump();  // output produced for the old size is interpreted at the old size
  cols_ = cols;
  rows_ = rows;
  vterm_set_size(vt_, rows, cols);
  winsize size{};
  size.ws_row = static_cast<unsigned short>(rows);
  size.ws_col = static_cast<unsigned short>(cols);
  if (ioctl(master_fd_, TIOCSWINSZ, &size) < 0) ThrowErrno("TIOCSWINSZ");
}

// ---- Output from the child ----

bool PtyTerminal::ReadAvailable() {
  char buf[4096];
  for (int reads = 0; reads < kMaxReadsPerPump; ++reads) {
    const ssize_t n = read(master_fd_, buf, sizeof buf);
    if (n > 0) {
      bytes_received_ += static_cast<size_t>(n);
      vterm_input_write(vt_, buf, static_cast<size_t>(n));
      continue;
    }
    if (n < 0 && errno == EINTR) continue;
    FlushReplies();
    return false;  // EAGAIN: nothing more for now; EIO or 0: the slave side is gone
  }
  FlushReplies();
  return true;  // stopped early, more may be waiting
}

void PtyTerminal::Pump() {
  ReadAvailable();
}

void PtyTerminal::DrainOutput() {
  while (ReadAvailable()) {
  }
}

void PtyTerminal::FlushReplies() {
  while (!pending_replies_.empty()) {
    const ssize_t n = WriteWithoutSigpipe(master_fd_, pending_replies_);
    if (n > 0) {
      pending_replies_.erase(0, static_cast<size_t>(n));
    } else if (!(n < 0 && errno == EINTR)) {
      return;  // no room now; retried on the next pump
    }
  }
}

bool PtyTerminal::WaitFor(const std::function<bool()>& done, int timeout_ms) {
  const auto deadline = Clock::now() + std::chrono::milliseconds(std::max(timeout_ms, 0));
  for (;;) {
    Pump();
    if (done()) return true;
    const int left = RemainingMs(deadline);
    if (left == 0) return false;
    WaitUntilReady(master_fd_, POLLIN, std::min(kPollSliceMs, left));
  }
}

bool PtyTerminal::WaitForText(std::string_view utf8, int timeout_ms) {
  return WaitFor([&] { return ScreenText().find(utf8) != std::string::npos; }, timeout_ms);
}

bool PtyTerminal::WaitForExit(int timeout_ms) {
  if (pid_ <= 0) return false;
  const bool exited = WaitFor([&] { return TryReap(WNOHANG); }, timeout_ms);
  // A non-blocking read of the master flushes the kernel's pending pty buffer first, so this
  // catches everything written before exit.
  if (exited) DrainOutput();
  return exited;
}

// ---- Screen reading ----

Cell PtyTerminal::CellAt(int col, int row) {
  if (col < 0 || col >= cols_ || row < 0 || row >= rows_) {
    throw std::out_of_range("PtyTerminal::CellAt(" + std::to_string(col) + ", " +
                            std::to_string(row) + ")");
  }
  Pump();
  VTermScreenCell raw;
  vterm_screen_get_cell(screen_, VTermPos{row, col}, &raw);
  Cell cell;
  if (raw.chars[0] == kWideCharTail) {
    cell.ch = 0;
  } else if (raw.chars[0] != 0) {
    cell.ch = raw.chars[0];
  }
  cell.fg = ColourCode(raw.fg, VTERM_COLOR_IS_DEFAULT_FG(&raw.fg));
  cell.bg = ColourCode(raw.bg, VTERM_COLOR_IS_DEFAULT_BG(&raw.bg));
  cell.bold = raw.attrs.bold;
  cell.italic = raw.attrs.italic;
  cell.underline = raw.attrs.underline != VTERM_UNDERLINE_OFF;
  cell.reverse = raw.attrs.reverse;  // reported as an attribute; fg/bg are not swapped
  return cell;
}

std::string PtyTerminal::ReadRow(int row) const {
  std::string text;
  for (int col = 0; col < cols_; ++col) {
    VTermScreenCell cell;
    vterm_screen_get_cell(screen_, VTermPos{row, col}, &cell);
    if (cell.chars[0] == kWideCharTail) continue;
    if (cell.chars[0] == 0) {
      text += ' ';
      continue;
    }
    // Further entries are combining characters drawn in the same cell.
    for (int i = 0; i < VTERM_MAX_CHARS_PER_CELL && cell.chars[i] != 0; ++i) {
      AppendUtf8(cell.chars[i], text);
    }
  }
  return text;
}

std::string PtyTerminal::ScreenText() const {
  std::string text;
  for (int row = 0; row < rows_; ++row) text += ReadRow(row);
  return text;
}

std::string PtyTerminal::RowText(int row) {
  if (row < 0 || row >= rows_) throw std::out_of_range("PtyTerminal::RowText");
  Pump();
  return ReadRow(row);
}

std::string PtyTerminal::ScreenDump() {
  Pump();
  std::string dump;
  for (int row = 0; row < rows_; ++row) {
    std::string line = ReadRow(row);
    line.erase(line.find_last_not_of(' ') + 1);
    if (row > 0) dump += '\n';
    dump += line;
  }
  return dump;
}

PtyTerminal::Pos PtyTerminal::Cursor() {
  Pump();
  VTermPos pos;
  vterm_state_get_cursorpos(vterm_obtain_state(vt_), &pos);
  return Pos{pos.col, pos.row};
}

bool PtyTerminal::CursorVisible() {
  Pump();
  return cursor_visible_;
}

bool PtyTerminal::AltScreenActive() {
  Pump();
  return alt_screen_;
}

termios PtyTerminal::SlaveModes() const {
  termios modes;
  if (tcgetattr(slave_fd_, &modes) < 0) ThrowErrno("PtyTerminal::SlaveModes");
  return modes;
}

}  // namespace quillomat_test
