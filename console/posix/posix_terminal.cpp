#include "console/posix/posix_terminal.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <sys/select.h>
#include <termios.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <string>
#include <string_view>

namespace {

// CAN first: it cancels any escape sequence a signal may have cut in half. The keypad goes back
// to numeric mode (DECKPNM) as the screen is left. LeaveScreenBytes puts the cursor's move in
// between.
constexpr std::string_view kLeaveScreenStart = "\x18\x1b[0m\x1b[?25h\x1b>";
constexpr std::string_view kLeaveScreenEnd = "\x1b[?1049l";
// The keypad in application mode (DECKPAM), so that its digits arrive apart from the main row's.
constexpr std::string_view kEnterScreen = "\x1b[?1049h\x1b=\x1b[H\x1b[2J";
// A screen drawn with the DEC line-drawing set may be left with it in G0 by a write cut short.
constexpr std::string_view kAsciiInG0 = "\x1b(B";
// After a stop: the redraw that follows clears the screen itself.
constexpr std::string_view kResumeScreen = "\x1b[?1049h\x1b=";

// A descriptor output goes to. A terminal is written through an open file description of the
// program's own, opened non-blocking, so that a terminal that takes nothing (a frozen link) holds
// no write up for longer than the writer's patience. The standard descriptors share theirs with
// the shell: O_NONBLOCK set on it would reach the shell too, and a blocking write cannot be
// bounded at all (poll() may call the terminal writable while a write of many bytes still
// waits for all of them). Only where the terminal cannot be opened again (another user's device)
// is its shared description made non-blocking, for the time of each write alone.
struct Sink {
  int fd = -1;
  bool borrowed = false;  // a terminal's shared description, made non-blocking per write
};

// What the signal handlers need, and where output goes. Written once before any handler is
// installed, read-only after.
struct TerminalState {
  int keyboard_fd = -1;  // terminal whose modes were changed, or -1
  termios saved_modes{};
  termios program_modes{};
  Sink screen;  // terminal showing the alternate screen; fd -1 when none does
  Sink output;  // standard output
  Sink error;   // standard error
  Sink echo;    // the keyboard's terminal; fd -1 when the keys come from elsewhere
  int wake_pipe[2] = {-1, -1};
  bool draws_lines_from_g0 = false;  // lines are drawn through the DEC special graphics set
};
TerminalState g_terminal;

// Whether the program's modes and screen are in force. Set before they are entered and cleared
// once they are restored, so that a signal in between still restores them, and so that a resume
// brings them back once however many handlers see it.
volatile sig_atomic_t g_program_modes_in_force = 0;

// Signals whose default action ends the process: the terminal is restored first, crashes
// included. Not SIGPIPE: it is ignored, since output that went away must not end the run.
constexpr int kEndingSignals[] = {
    SIGINT,    SIGTERM, SIGHUP,  SIGQUIT, SIGABRT, SIGSEGV,   SIGBUS,  SIGFPE,  SIGILL,
    SIGTRAP,   SIGSYS,  SIGUSR1, SIGUSR2, SIGALRM, SIGVTALRM, SIGPROF, SIGXCPU, SIGXFSZ,
#ifdef SIGPOLL
    SIGPOLL,  // SIGIO too, where it is the same signal; elsewhere SIGIO is ignored by default
#endif
#ifdef SIGPWR
    SIGPWR,
#endif
#ifdef SIGSTKFLT
    SIGSTKFLT,
#endif
#ifdef SIGEMT
    SIGEMT,
#endif
};

// Async-signal-safe, like everything a handler calls.
int64_t MonotonicMilliseconds() {
  timespec now{};
  clock_gettime(CLOCK_MONOTONIC, &now);
  return static_cast<int64_t>(now.tv_sec) * 1000 + now.tv_nsec / 1000000;
}

// The descriptors' events as select() sees them, for those poll() cannot watch.
int SelectDescriptors(pollfd* fds, nfds_t count, int timeout_ms) {
  fd_set readable;
  fd_set writable;
  FD_ZERO(&readable);
  FD_ZERO(&writable);
  int highest = -1;
  for (nfds_t i = 0; i < count; ++i) {
    fds[i].revents = 0;
    if (fds[i].fd < 0) continue;
    if (fds[i].events & POLLIN) FD_SET(fds[i].fd, &readable);
    if (fds[i].events & POLLOUT) FD_SET(fds[i].fd, &writable);
    highest = std::max(highest, fds[i].fd);
  }
  timeval timeout{};
  timeout.tv_sec = timeout_ms / 1000;
  timeout.tv_usec = (timeout_ms % 1000) * 1000;
  const int ready =
      select(highest + 1, &readable, &writable, nullptr, timeout_ms < 0 ? nullptr : &timeout);
  if (ready <= 0) return ready;
  int described = 0;
  for (nfds_t i = 0; i < count; ++i) {
    if (fds[i].fd < 0) continue;
    if (FD_ISSET(fds[i].fd, &readable)) fds[i].revents |= POLLIN;
    if (FD_ISSET(fds[i].fd, &writable)) fds[i].revents |= POLLOUT;
    if (fds[i].revents != 0) ++described;
  }
  return described;
}

// Whether poll() called an open descriptor invalid: macOS's poll() does so for devices it cannot
// watch (/dev/tty, /dev/null), which select() can. Elsewhere POLLNVAL means a closed descriptor.
bool RefusedByPoll(const pollfd* fds, nfds_t count) {
  bool refused = false;
  for (nfds_t i = 0; i < count; ++i) {
    if (fds[i].fd >= FD_SETSIZE) return false;
    if ((fds[i].revents & POLLNVAL) && fcntl(fds[i].fd, F_GETFD) != -1) refused = true;
  }
  return refused;
}

// poll(), falling back to select() where the system's poll() refuses a descriptor that is open.
int WaitForDescriptors(pollfd* fds, nfds_t count, int timeout_ms) {
  const int ready = poll(fds, count, timeout_ms);
  if (ready <= 0 || !RefusedByPoll(fds, count)) return ready;
  return SelectDescriptors(fds, count, timeout_ms);
}

// Who writes, and so how long an output that takes nothing (a terminal nobody reads) may hold the
// write up: the program gives up after a second without progress; a signal handler, which must
// let the process end or stop soon, after 200 ms in all.
enum class Writer { kProgram, kHandler };

// One write that waits for nothing. Async-signal-safe, as fcntl() and write() are.
ssize_t WriteSome(const Sink& sink, std::string_view bytes) {
  if (!sink.borrowed) return write(sink.fd, bytes.data(), bytes.size());
  const int flags = fcntl(sink.fd, F_GETFL);
  if (flags != -1 && !(flags & O_NONBLOCK)) fcntl(sink.fd, F_SETFL, flags | O_NONBLOCK);
  const ssize_t written = write(sink.fd, bytes.data(), bytes.size());
  const int error = errno;
  if (flags != -1 && !(flags & O_NONBLOCK)) fcntl(sink.fd, F_SETFL, flags);
  errno = error;
  return written;
}

void WriteAll(const Sink& sink, std::string_view bytes, Writer writer = Writer::kProgram) {
  const int patience_ms = writer == Writer::kHandler ? 200 : 1000;
  int64_t give_up_at = MonotonicMilliseconds() + patience_ms;
  while (!bytes.empty()) {
    const ssize_t written = WriteSome(sink, bytes);
    if (written > 0) {
      bytes.remove_prefix(static_cast<size_t>(written));
      if (writer == Writer::kProgram) give_up_at = MonotonicMilliseconds() + patience_ms;
      continue;
    }
    const int error = written < 0 ? errno : 0;
    if (error != 0 && error != EINTR && error != EAGAIN && error != EWOULDBLOCK) return;
    const int64_t left = give_up_at - MonotonicMilliseconds();
    if (left <= 0) return;  // nowhere left to show it
    if (error == EINTR) continue;
    pollfd writable{sink.fd, POLLOUT, 0};
    WaitForDescriptors(&writable, 1, static_cast<int>(left));
  }
}

// Nothing allocated: running out of memory ends the run with a message too. A line that fits
// the buffer goes out in one write, its line end with it.
void WriteLine(const Sink& sink, std::string_view text) {
  char line[256];
  if (text.size() < sizeof line) {
    std::copy(text.begin(), text.end(), line);
    line[text.size()] = '\n';
    WriteAll(sink, {line, text.size() + 1});
  } else {
    WriteAll(sink, text);
    WriteAll(sink, "\n");
  }
}

// Appends to a buffer on the stack, as far as it holds.
struct StackText {
  char bytes[48];
  size_t size = 0;

  void Append(std::string_view text) {
    for (const char c : text) {
      if (size < sizeof bytes) bytes[size++] = c;
    }
  }
  void AppendNumber(unsigned number) {
    char digits[12];
    size_t count = 0;
    do {
      digits[count++] = static_cast<char>('0' + number % 10);
      number /= 10;
    } while (number > 0);
    while (count > 0) Append({&digits[--count], 1});
  }
  std::string_view View() const { return {bytes, size}; }
};

// The screen is left with the cursor on the bottom row, first column, as curses programs leave
// it, and that row blank: a terminal without an alternate screen (GNU screen's default, xterm
// with titeInhibit, the Linux console) keeps the program's screen, and the shell's prompt or a
// message must come below it, not inside it. No allocation: handlers leave the screen too.
StackText LeaveScreenBytes() {
  winsize size{};
  const bool known = ioctl(g_terminal.screen.fd, TIOCGWINSZ, &size) == 0 && size.ws_row > 0;
  StackText text;
  text.Append(kLeaveScreenStart);
  text.Append("\x1b[");
  text.AppendNumber(known ? size.ws_row : 999);  // a row past the bottom means the bottom one
  text.Append("H\x1b[K");
  text.Append(kLeaveScreenEnd);
  if (g_terminal.draws_lines_from_g0) text.Append(kAsciiInG0);
  return text;
}

// Only input-side modes change, so they are put back at once: waiting for output to drain could
// wait for ever on a terminal that takes nothing.
void RestoreTerminal(Writer writer) {
  if (!g_program_modes_in_force) return;
  if (g_terminal.screen.fd >= 0) WriteAll(g_terminal.screen, LeaveScreenBytes().View(), writer);
  if (g_terminal.keyboard_fd >= 0) {
    tcsetattr(g_terminal.keyboard_fd, TCSANOW, &g_terminal.saved_modes);
  }
  g_program_modes_in_force = 0;
}

void ApplyProgramTermios() {
  if (g_terminal.keyboard_fd >= 0) {
    tcsetattr(g_terminal.keyboard_fd, TCSANOW, &g_terminal.program_modes);
  }
}

void EnterProgramModes(Writer writer, std::string_view enter_screen) {
  g_program_modes_in_force = 1;
  ApplyProgramTermios();
  if (g_terminal.screen.fd >= 0) WriteAll(g_terminal.screen, enter_screen, writer);
}

void Wake() {
  const char byte = 0;
  [[maybe_unused]] const ssize_t ignored = write(g_terminal.wake_pipe[1], &byte, 1);
}

void SetHandler(int signal_number, void (*handler)(int)) {
  struct sigaction action {};
  action.sa_handler = handler;
  // No other handler cuts into a change of the terminal. SIGTTOU stays open, so that a change
  // made from the background stops the program, as it would outside a handler, instead of
  // going through.
  sigfillset(&action.sa_mask);
  sigdelset(&action.sa_mask, SIGTTOU);
  action.sa_flags = SA_RESTART;
  sigaction(signal_number, &action, nullptr);
}

// Ends the process the default way for the signal, so the shell sees what happened.
void RaiseDefault(int signal_number) {
  SetHandler(signal_number, SIG_DFL);
  sigset_t just_this;
  sigemptyset(&just_this);
  sigaddset(&just_this, signal_number);
  sigprocmask(SIG_UNBLOCK, &just_this, nullptr);
  raise(signal_number);
}

// After a stop, the program's modes and screen come back, unless a resume brought them already.
// Resumed in the background, the program stops at the change of modes until fg brings it back.
void ResumeProgramModes() {
  if (g_program_modes_in_force) return;
  EnterProgramModes(Writer::kHandler, kResumeScreen);
  Wake();  // the screen must be drawn again
}

// Restores the terminal, then lets the signal act the default way: the process ends or stops
// there. It goes on after a stop, after a stop that an orphaned process group ignores, or where
// the default does not end it after all, and then its modes come back.
void RestoreThenActByDefault(int signal_number, void (*handler)(int)) {
  const int saved_errno = errno;
  RestoreTerminal(Writer::kHandler);
  RaiseDefault(signal_number);
  SetHandler(signal_number, handler);
  ResumeProgramModes();
  errno = saved_errno;
}

void OnEndingSignal(int signal_number) {
  RestoreThenActByDefault(signal_number, OnEndingSignal);
}

void OnStop(int signal_number) {
  RestoreThenActByDefault(signal_number, OnStop);
}

void OnContinue(int) {
  const int saved_errno = errno;
  if (g_program_modes_in_force) {
    // Stopped from outside (SIGSTOP), the program kept its modes, but a shell may have put its
    // own back meanwhile.
    ApplyProgramTermios();
    Wake();
  } else {
    ResumeProgramModes();
  }
  errno = saved_errno;
}

void OnResize(int) {
  const int saved_errno = errno;
  Wake();
  errno = saved_errno;
}

bool IsIgnored(int signal_number) {
  struct sigaction current {};
  sigaction(signal_number, nullptr, &current);
  return current.sa_handler == SIG_IGN;
}

void InstallSignalHandlers() {
  for (const int signal_number : kEndingSignals) {
    if (!IsIgnored(signal_number)) SetHandler(signal_number, OnEndingSignal);
  }
#if defined(SIGRTMIN) && defined(SIGRTMAX)
  for (int signal_number = SIGRTMIN; signal_number <= SIGRTMAX; ++signal_number) {
    if (!IsIgnored(signal_number)) SetHandler(signal_number, OnEndingSignal);
  }
#endif
  if (!IsIgnored(SIGTSTP)) SetHandler(SIGTSTP, OnStop);
  SetHandler(SIGCONT, OnContinue);
  SetHandler(SIGWINCH, OnResize);
  std::set_terminate([] {
    RestoreTerminal(Writer::kProgram);
    std::abort();
  });
}

void BlockSignals() {
  sigset_t all;
  sigfillset(&all);
  sigprocmask(SIG_BLOCK, &all, nullptr);
}

// Keys arrive one by one, unechoed, with CR as typed; Ctrl+C and Ctrl+Z still signal. Ctrl+S
// would stop all output until Ctrl+Q, which looks like a hang, so it is an ordinary key.
termios ProgramModes(termios modes) {
  modes.c_iflag &= ~static_cast<tcflag_t>(ICRNL | INLCR | IGNCR | IXON);
  modes.c_lflag &= ~static_cast<tcflag_t>(ICANON | ECHO | ECHONL | IEXTEN);
  modes.c_cc[VMIN] = 1;
  modes.c_cc[VTIME] = 0;
  return modes;
}

// A closed standard descriptor would be taken by the next file opened (the wake pipe, say), and
// the program would read from or write to that instead. /dev/null stands in for it: a closed
// input reads as an empty one, and output to a closed descriptor goes nowhere. Each open takes
// the lowest free descriptor, which is the one being filled as they are done in order.
void FillClosedStandardDescriptors() {
  for (const int fd : {STDIN_FILENO, STDOUT_FILENO, STDERR_FILENO}) {
    if (fcntl(fd, F_GETFD) == -1 && errno == EBADF) open("/dev/null", O_RDWR);
  }
}

bool OpenWakePipe(int ends[2]) {
  if (pipe(ends) != 0) return false;
  for (int side = 0; side < 2; ++side) {
    fcntl(ends[side], F_SETFD, FD_CLOEXEC);
    fcntl(ends[side], F_SETFL, fcntl(ends[side], F_GETFL) | O_NONBLOCK);
  }
  return true;
}

// A terminal named dumb, or none named at all, only prints: it cannot move its cursor, and an
// escape sequence would show as garbage.
bool HasCursorControl() {
  const char* name = std::getenv("TERM");
  return name != nullptr && *name != '\0' && std::string_view(name) != "dumb";
}

void PauseBriefly() {
  const timespec pause{0, 10 * 1000 * 1000};
  nanosleep(&pause, nullptr);
}

// Files and pipes are written as they are; a terminal through a description of the program's own
// (see Sink). The keyboard's terminal is opened for writing this way even when standard input was
// opened for reading only.
Sink SinkFor(int fd) {
  if (!isatty(fd)) return {fd, false};
  const char* name = ttyname(fd);
  const int own = name ? open(name, O_WRONLY | O_NOCTTY | O_NONBLOCK | O_CLOEXEC) : -1;
  return own >= 0 ? Sink{own, false} : Sink{fd, true};
}

}  // namespace

PosixTerminal& PosixTerminal::Open() {
  // Static rather than leaked, so that the exit ending every run leaves no heap block behind.
  static PosixTerminal terminal;
  return terminal;
}

PosixTerminal::PosixTerminal() {
  FillClosedStandardDescriptors();
  if (!OpenWakePipe(g_terminal.wake_pipe)) g_terminal.wake_pipe[0] = g_terminal.wake_pipe[1] = -1;
  // Output that went away (a pipe closed early) is no reason to stop: the writes fail unseen and
  // the document is still saved.
  signal(SIGPIPE, SIG_IGN);
  termios modes{};
  input_is_terminal_ = isatty(STDIN_FILENO) && tcgetattr(STDIN_FILENO, &modes) == 0;
  draws_on_screen_ = isatty(STDOUT_FILENO) && HasCursorControl();
  charset_ = Charset::FromLocale();
  g_terminal.draws_lines_from_g0 = !charset_.IsUtf8();
  if (input_is_terminal_) {
    g_terminal.keyboard_fd = STDIN_FILENO;
    g_terminal.saved_modes = modes;
    g_terminal.program_modes = ProgramModes(modes);
    g_terminal.echo = SinkFor(STDIN_FILENO);
  }
  g_terminal.output = SinkFor(STDOUT_FILENO);
  g_terminal.error = SinkFor(STDERR_FILENO);
  if (draws_on_screen_) g_terminal.screen = g_terminal.output;
  if (input_is_terminal_ || draws_on_screen_) {
    InstallSignalHandlers();
    EnterProgramModes(Writer::kProgram, kEnterScreen);
  }
}

bool PosixTerminal::DrainWakePipe() {
  char bytes[64];
  bool woken = false;
  while (read(g_terminal.wake_pipe[0], bytes, sizeof bytes) > 0) woken = true;
  return woken;
}

ConsoleDevice::Wait PosixTerminal::ReadInput(std::string& into, int timeout_ms) {
  if (input_over_) return *input_over_;
  // Input ends only when a pipe or a file says so. A terminal never does: it sends Ctrl+D as a
  // byte, so a terminal that reads nothing or fails has gone away (a hang-up), and so has input
  // that cannot be read at all.
  const auto over = [this](Wait ending) { return *(input_over_ = ending); };
  pollfd watched[2] = {{STDIN_FILENO, POLLIN, 0}, {g_terminal.wake_pipe[0], POLLIN, 0}};
  const int64_t deadline = NowMilliseconds() + timeout_ms;
  for (;;) {
    const int64_t left = timeout_ms < 0 ? -1 : std::max<int64_t>(deadline - NowMilliseconds(), 0);
    const int ready = WaitForDescriptors(watched, 2, static_cast<int>(left));
    if (ready < 0) {
      if (errno == EINTR) continue;
      if (errno == EAGAIN || errno == ENOMEM) {  // short of memory for a moment
        PauseBriefly();
        continue;
      }
      return over(Wait::kLost);
    }
    if (ready == 0) return Wait::kTimeout;
    if ((watched[1].revents & POLLIN) && DrainWakePipe()) return Wait::kScreenEvent;
    if (watched[1].revents & (POLLERR | POLLHUP | POLLNVAL)) watched[1].fd = -1;  // not spun on
    const short input_events = watched[0].revents;
    if (input_events == 0) continue;
    if (input_events & POLLNVAL) return over(Wait::kLost);
    if (input_is_terminal_ && (input_events & (POLLHUP | POLLERR))) return over(Wait::kLost);
    char bytes[4096];
    const ssize_t count = read(STDIN_FILENO, bytes, sizeof bytes);
    if (count > 0) {
      into.append(bytes, static_cast<size_t>(count));
      return Wait::kInput;
    }
    if (count == 0) return over(input_is_terminal_ ? Wait::kLost : Wait::kEnded);
    if (errno == EINTR || errno == EAGAIN || errno == EWOULDBLOCK) continue;
    return over(Wait::kLost);
  }
}

bool PosixTerminal::Sleep(int timeout_ms) {
  pollfd wake{g_terminal.wake_pipe[0], POLLIN, 0};
  const int ready = WaitForDescriptors(&wake, 1, timeout_ms);
  return ready > 0 && DrainWakePipe();
}

int64_t PosixTerminal::NowMilliseconds() {
  return MonotonicMilliseconds();
}

WindowSize PosixTerminal::Size() {
  winsize size{};
  if (ioctl(STDOUT_FILENO, TIOCGWINSZ, &size) == 0 && size.ws_col > 0 && size.ws_row > 0) {
    return {size.ws_col, size.ws_row};
  }
  return {80, 24};
}

void PosixTerminal::WriteOutput(std::string_view bytes) {
  WriteAll(g_terminal.output, bytes);
}

void PosixTerminal::WriteEcho(std::string_view bytes) {
  if (g_terminal.echo.fd >= 0) WriteAll(g_terminal.echo, bytes);
}

void PosixTerminal::EndProcess(int status, std::string_view error_message) {
  BlockSignals();  // from here on nothing may interrupt the restore
  RestoreTerminal(Writer::kProgram);
  if (!error_message.empty()) WriteLine(g_terminal.error, error_message);
  std::exit(status);
}
