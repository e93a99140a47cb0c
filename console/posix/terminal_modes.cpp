#include "console/posix/terminal_modes.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <exception>
#include <string_view>

#include "console/escape_sequences.h"

namespace {

using escape::kJoined;

// CAN first: it cancels any escape sequence a signal may have cut in half. The keypad goes back
// to numeric mode as the screen is left. LeaveScreenBytes puts the cursor's move in between.
constexpr std::string_view kLeaveScreenStart =
    kJoined<escape::kCancel, escape::kResetAttributes, escape::kShowCursor, escape::kKeypadNumeric>;
constexpr std::string_view kEnterScreen =
    kJoined<escape::kEnterAlternateScreen, escape::kKeypadApplication, escape::kCursorHome,
            escape::kEraseScreen>;
// After a stop: the redraw that follows clears the screen itself.
constexpr std::string_view kResumeScreen =
    kJoined<escape::kEnterAlternateScreen, escape::kKeypadApplication>;

// What the signal handlers need. Written once before any handler is installed, read-only after.
struct TerminalState {
  TerminalChanges changes;
  termios program_modes{};
  int wake_pipe[2] = {-1, -1};
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
  const int screen_fd = g_terminal.changes.screen.fd;
  const bool known = ioctl(screen_fd, TIOCGWINSZ, &size) == 0 && size.ws_row > 0;
  StackText text;
  text.Append(kLeaveScreenStart);
  text.Append(escape::kCsi);
  text.AppendNumber(known ? size.ws_row : 999);  // a row past the bottom means the bottom one
  text.Append({&escape::kCursorPositionFinal, 1});
  text.Append(escape::kEraseToLineEnd);
  text.Append(escape::kLeaveAlternateScreen);
  // A screen drawn with the DEC line-drawing set may be left with it in G0 by a write cut short.
  if (g_terminal.changes.draws_lines_from_g0) text.Append(escape::kAsciiInG0);
  return text;
}

// Only input-side modes change, so they are put back at once: waiting for output to drain could
// wait for ever on a terminal that takes nothing.
void RestoreTerminal(Writer writer) {
  if (!g_program_modes_in_force) return;
  const TerminalChanges& changes = g_terminal.changes;
  if (changes.screen.fd >= 0) WriteAll(changes.screen, LeaveScreenBytes().View(), writer);
  if (changes.keyboard_fd >= 0) tcsetattr(changes.keyboard_fd, TCSANOW, &changes.saved_modes);
  g_program_modes_in_force = 0;
}

void ApplyProgramTermios() {
  if (g_terminal.changes.keyboard_fd >= 0) {
    tcsetattr(g_terminal.changes.keyboard_fd, TCSANOW, &g_terminal.program_modes);
  }
}

void EnterProgramModes(Writer writer, std::string_view enter_screen) {
  g_program_modes_in_force = 1;
  ApplyProgramTermios();
  const Sink& screen = g_terminal.changes.screen;
  if (screen.fd >= 0) WriteAll(screen, enter_screen, writer);
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

// Keys arrive one by one, unechoed, with CR as typed; Ctrl+C and Ctrl+Z still signal. Ctrl+S
// would stop all output until Ctrl+Q, which looks like a hang, so it is an ordinary key.
termios ProgramModes(termios modes) {
  modes.c_iflag &= ~static_cast<tcflag_t>(ICRNL | INLCR | IGNCR | IXON);
  modes.c_lflag &= ~static_cast<tcflag_t>(ICANON | ECHO | ECHONL | IEXTEN);
  modes.c_cc[VMIN] = 1;
  modes.c_cc[VTIME] = 0;
  return modes;
}

}  // namespace

int OpenWakePipe() {
  int* ends = g_terminal.wake_pipe;
  if (pipe(ends) != 0) {
    ends[0] = ends[1] = -1;
    return -1;
  }
  for (int side = 0; side < 2; ++side) {
    fcntl(ends[side], F_SETFD, FD_CLOEXEC);
    fcntl(ends[side], F_SETFL, fcntl(ends[side], F_GETFL) | O_NONBLOCK);
  }
  return ends[0];
}

void TakeTerminal(const TerminalChanges& changes) {
  g_terminal.changes = changes;
  if (changes.keyboard_fd >= 0) g_terminal.program_modes = ProgramModes(changes.saved_modes);
  InstallSignalHandlers();
  EnterProgramModes(Writer::kProgram, kEnterScreen);
}

void RestoreTerminalForExit() {
  sigset_t all;
  sigfillset(&all);
  sigprocmask(SIG_BLOCK, &all, nullptr);
  RestoreTerminal(Writer::kProgram);
}
