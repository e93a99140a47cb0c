#include "tests/support/pty_terminal.h"

#include <dirent.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vterm.h>
#ifdef __linux__
#include <sys/prctl.h>
#endif

#include <cerrno>
#include <chrono>
#include <fstream>
#include <sstream>
#include <stdexcept>

#include "console/utf8.h"

namespace {

void SetWindowSize(int fd, int columns, int rows) {
  const winsize size{static_cast<unsigned short>(rows), static_cast<unsigned short>(columns), 0, 0};
  ioctl(fd, TIOCSWINSZ, &size);
}

// False when the reader has gone (a program that ended early).
bool WriteAll(int fd, std::string_view bytes) {
  for (ssize_t written = 0; !bytes.empty(); bytes.remove_prefix(static_cast<size_t>(written))) {
    written = write(fd, bytes.data(), bytes.size());
    if (written < 0 && errno == EPIPE) return false;
    if (written < 0) throw std::runtime_error("write to the program failed");
  }
  return true;
}

// A started program gets none of the tests' descriptors. The flag is set after the call that
// opens one, since pipe2 and posix_openpt's O_CLOEXEC are not everywhere; the tests start their
// programs from one thread, so no program can start in between.
void CloseOnExec(int fd) {
  if (fd >= 0) fcntl(fd, F_SETFD, fcntl(fd, F_GETFD) | FD_CLOEXEC);
}

bool OpenPipe(int ends[2]) {
  if (pipe(ends) != 0) return false;
  CloseOnExec(ends[0]);
  CloseOnExec(ends[1]);
  return true;
}

VTermScreenCell CellOf(VTerm* vterm, int column, int row) {
  VTermScreenCell cell{};
  vterm_screen_get_cell(vterm_obtain_screen(vterm), VTermPos{row, column}, &cell);
  return cell;
}

}  // namespace

PtyTerminal::PtyTerminal(int columns, int rows) : columns_(columns), rows_(rows) {
  signal(SIGPIPE, SIG_IGN);  // a program that quit early must fail the test, not kill it
  master_fd_ = posix_openpt(O_RDWR | O_NOCTTY);
  CloseOnExec(master_fd_);
  if (master_fd_ < 0 || grantpt(master_fd_) != 0 || unlockpt(master_fd_) != 0) {
    throw std::runtime_error("no pseudo-terminal");
  }
  slave_fd_ = open(ptsname(master_fd_), O_RDWR | O_NOCTTY | O_CLOEXEC);
  fcntl(master_fd_, F_SETFL, O_NONBLOCK);
  SetWindowSize(master_fd_, columns, rows);
  vterm_ = vterm_new(rows, columns);
  vterm_set_utf8(vterm_, 1);
  VTermScreen* screen = vterm_obtain_screen(vterm_);
  static VTermScreenCallbacks callbacks{};
  callbacks.settermprop = [](VTermProp property, VTermValue* value, void* self) {
    auto* terminal = static_cast<PtyTerminal*>(self);
    if (property == VTERM_PROP_CURSORVISIBLE) terminal->cursor_visible_ = value->boolean;
    if (property == VTERM_PROP_ALTSCREEN) terminal->alt_screen_ = value->boolean;
    return 1;
  };
  vterm_screen_set_callbacks(screen, &callbacks, this);
  vterm_screen_reset(screen, 1);
  vterm_screen_enable_altscreen(screen, 1);
}

std::vector<pid_t> LiveProcessesOfSession(pid_t session) {
  std::vector<pid_t> live;
  DIR* proc = opendir("/proc");
  if (proc == nullptr) return kill(session, 0) == 0 ? std::vector<pid_t>{session} : live;
  while (const dirent* entry = readdir(proc)) {
    std::ifstream stat(std::string("/proc/") + entry->d_name + "/stat");
    std::string line;
    if (!std::getline(stat, line) || line.rfind(')') == std::string::npos) continue;
    // After the command's name: state, parent, process group, session.
    std::istringstream fields(line.substr(line.rfind(')') + 1));
    char state = 0;
    long parent = 0, group = 0, member_of = 0;
    if (fields >> state >> parent >> group >> member_of && member_of == session && state != 'Z' &&
        state != 'X') {
      live.push_back(static_cast<pid_t>(std::stol(entry->d_name)));
    }
  }
  closedir(proc);
  return live;
}

PtyTerminal::~PtyTerminal() {
  if (pid_ > 0) {
    for (const int signal_number : {SIGTERM, SIGKILL}) {
      for (const pid_t process : LiveProcessesOfSession(pid_)) {
        kill(process, signal_number);
        kill(process, SIGCONT);  // a stopped one takes its terminate only once running
      }
      const auto grace = std::chrono::steady_clock::now() + std::chrono::milliseconds(300);
      while (!LiveProcessesOfSession(pid_).empty() && std::chrono::steady_clock::now() < grace) {
        if (status_ == -1 && waitpid(pid_, &status_, WNOHANG) != pid_) status_ = -1;
        poll(nullptr, 0, 5);
      }
    }
    if (status_ == -1) waitpid(pid_, &status_, 0);
  }
  for (const int fd : {stdin_fd_, master_fd_, slave_fd_}) close(fd);
  vterm_free(vterm_);
}

void PtyTerminal::WithoutAltScreen() {
  has_alt_screen_ = false;
  vterm_screen_enable_altscreen(vterm_obtain_screen(vterm_), 0);
}

void PtyTerminal::PrintAsShell(std::string_view bytes) {
  WriteAll(slave_fd_, bytes);
  Pump();
}

void PtyTerminal::Start(const std::vector<std::string>& argv, const std::string& dir,
                        PtyStreams streams) {
  int pipe_ends[2] = {-1, -1};
  if (streams.stdin_from_pipe && !OpenPipe(pipe_ends)) throw std::runtime_error("pipe");
  int unread_ends[2] = {-1, -1};
  if (streams.stdout_to_closed_pipe && !OpenPipe(unread_ends)) throw std::runtime_error("pipe");
  pid_ = fork();
  if (pid_ == 0) {
    setsid();
#ifdef __linux__
    prctl(PR_SET_PDEATHSIG, SIGKILL);  // the tests ended by a crash or their time limit
#endif
    const int tty = open(ptsname(master_fd_), O_RDWR);
    ioctl(tty, TIOCSCTTY, 0);
    auto output = [tty](const std::string& path) {
      return path.empty() ? tty : open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    };
    dup2(pipe_ends[0] >= 0 ? pipe_ends[0] : tty, 0);
    dup2(unread_ends[1] >= 0 ? unread_ends[1] : output(streams.stdout_file), 1);
    dup2(output(streams.stderr_file), 2);
    for (const int fd : streams.closed_fds) close(fd);
    // What libvterm understands, whatever the runner has.
    setenv("TERM", "xterm-256color", 1);
    setenv("LC_ALL", streams.locale.c_str(), 1);
    for (const std::string& setting : streams.environment) {
      const size_t equals = setting.find('=');
      if (equals == std::string::npos) {
        unsetenv(setting.c_str());
      } else {
        setenv(setting.substr(0, equals).c_str(), setting.c_str() + equals + 1, 1);
      }
    }
    for (const auto& [resource, bytes] : {std::pair{RLIMIT_FSIZE, streams.file_size_limit},
                                          std::pair{RLIMIT_AS, streams.address_space_limit}}) {
      rlimit limit{};
      getrlimit(resource, &limit);
      limit.rlim_cur = static_cast<rlim_t>(bytes);
      if (bytes >= 0) setrlimit(resource, &limit);
    }
    // The program gets the signals a shell would give it, whatever the test runner ignores.
    for (int signal_number = 1; signal_number < NSIG; ++signal_number)
      signal(signal_number, SIG_DFL);
    for (const int signal_number : streams.ignored_signals) signal(signal_number, SIG_IGN);
    sigset_t none;
    sigemptyset(&none);
    sigprocmask(SIG_SETMASK, &none, nullptr);
    std::vector<char*> args;
    for (const std::string& arg : argv) args.push_back(const_cast<char*>(arg.c_str()));
    args.push_back(nullptr);
    if (chdir(dir.c_str()) == 0) execv(args[0], args.data());
    _exit(127);
  }
  if (pipe_ends[0] >= 0) close(pipe_ends[0]);
  stdin_fd_ = pipe_ends[1];
  for (const int fd : unread_ends) close(fd);  // nobody reads it from now on
}

void PtyTerminal::Send(std::string_view keys) {
  WriteAll(master_fd_, keys);
}

void PtyTerminal::WriteStdin(std::string_view bytes) {
  [[maybe_unused]] const bool taken = WriteAll(stdin_fd_, bytes);
}

void PtyTerminal::CloseStdin() {
  close(stdin_fd_);
  stdin_fd_ = -1;
}

void PtyTerminal::Resize(int columns, int rows) {
  Pump();
  columns_ = columns;
  rows_ = rows;
  vterm_set_size(vterm_, rows, columns);
  SetWindowSize(master_fd_, columns, rows);
}

void PtyTerminal::Signal(int signal_number) {
  kill(pid_, signal_number);
}

void PtyTerminal::HangUp() {
  Pump();
  close(master_fd_);
  master_fd_ = -1;
}

void PtyTerminal::Pump() {
  char bytes[4096];
  for (ssize_t count; reading_ && (count = read(master_fd_, bytes, sizeof bytes)) > 0;) {
    const std::string_view arrived(bytes, static_cast<size_t>(count));
    received_ += arrived;
    // libvterm reads 8-bit text as UTF-8 only: told otherwise, it drops every byte's top bit.
    std::string utf8;
    if (latin1_) {
      for (const char byte : arrived) AppendUtf8(utf8, static_cast<unsigned char>(byte));
    }
    Feed(latin1_ ? std::string_view(utf8) : arrived);
  }
}

void PtyTerminal::Feed(std::string_view bytes) {
  if (has_alt_screen_) {
    vterm_input_write(vterm_, bytes.data(), bytes.size());
    return;
  }
  // libvterm without its alternate screen still saves and restores the cursor with it.
  constexpr std::string_view kAltScreenMode = "\x1b[?1049";
  unfed_ += bytes;
  for (size_t at; (at = unfed_.find(kAltScreenMode)) != std::string::npos &&
                  at + kAltScreenMode.size() < unfed_.size();) {
    unfed_.erase(at, kAltScreenMode.size() + 1);
  }
  size_t fed = unfed_.size();
  const size_t last_escape = unfed_.rfind('\x1b');
  if (last_escape != std::string::npos &&
      kAltScreenMode.starts_with(std::string_view(unfed_).substr(last_escape))) {
    fed = last_escape;
  }
  vterm_input_write(vterm_, unfed_.data(), fed);
  unfed_.erase(0, fed);
}

bool PtyTerminal::WaitFor(const std::function<bool()>& done, int timeout_ms) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout_ms);
  for (;;) {
    Pump();
    if (done()) return true;
    if (std::chrono::steady_clock::now() >= deadline) return false;
    pollfd readable{reading_ ? master_fd_ : -1, POLLIN, 0};
    poll(&readable, 1, 5);
  }
}

bool PtyTerminal::WaitForText(std::string_view utf8, int timeout_ms) {
  return WaitFor([&] { return ScreenDump().find(utf8) != std::string::npos; }, timeout_ms);
}

bool PtyTerminal::WaitForExit(int timeout_ms) {
  const bool exited = WaitFor(
      [&] { return status_ != -1 || waitpid(pid_, &status_, WNOHANG) == pid_; }, timeout_ms);
  Pump();  // what it wrote just before exiting
  return exited;
}

bool PtyTerminal::WaitForStop(int timeout_ms) {
  int status = 0;
  return WaitFor([&] { return waitpid(pid_, &status, WUNTRACED | WNOHANG) == pid_; }, timeout_ms) &&
         WIFSTOPPED(status);
}

char32_t PtyTerminal::CharAt(int column, int row) {
  Pump();
  const uint32_t glyph = CellOf(vterm_, column, row).chars[0];
  return glyph == 0 ? U' ' : glyph;
}

int PtyTerminal::ForegroundAt(int column, int row) {
  Pump();
  const VTermColor colour = CellOf(vterm_, column, row).fg;
  if (VTERM_COLOR_IS_DEFAULT_FG(&colour)) return -1;
  return VTERM_COLOR_IS_INDEXED(&colour) ? colour.indexed.idx : -2;
}

std::string PtyTerminal::RowText(int row) {
  std::string text;
  for (int column = 0; column < columns_; ++column) {
    const char32_t glyph = CharAt(column, row);
    if (glyph != 0xFFFFFFFF) AppendUtf8(text, glyph);  // not the right half of a wide character
  }
  return text;
}

std::pair<int, int> PtyTerminal::Cursor() {
  Pump();
  VTermPos position{};
  vterm_state_get_cursorpos(vterm_obtain_state(vterm_), &position);
  return {position.col, position.row};
}

termios PtyTerminal::SlaveModes() const {
  termios modes{};
  tcgetattr(slave_fd_, &modes);
  return modes;
}

std::string PtyTerminal::ScreenDump() {
  std::string dump;
  for (int row = 0; row < rows_; ++row) dump += RowText(row) + '\n';
  return dump;
}
