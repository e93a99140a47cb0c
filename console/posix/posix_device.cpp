#include "console/posix/posix_device.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <string>
#include <string_view>

#include "console/posix/terminal_modes.h"

namespace {

// A closed standard descriptor would be taken by the next file opened (the wake pipe, say), and
// the program would read from or write to that instead. /dev/null stands in for it: a closed
// input reads as an empty one, and output to a closed descriptor goes nowhere. Each open takes
// the lowest free descriptor, which is the one being filled as they are done in order.
void FillClosedStandardDescriptors() {
  for (const int fd : {STDIN_FILENO, STDOUT_FILENO, STDERR_FILENO}) {
    if (fcntl(fd, F_GETFD) == -1 && errno == EBADF) open("/dev/null", O_RDWR);
  }
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

}  // namespace

PosixDevice& PosixDevice::Open() {
  // Static rather than leaked, so that the exit ending every run leaves no heap block behind.
  static PosixDevice device;
  return device;
}

PosixDevice::PosixDevice() {
  FillClosedStandardDescriptors();
  wake_fd_ = OpenWakePipe();
  // Output that went away (a pipe closed early) is no reason to stop: the writes fail unseen and
  // the document is still saved.
  signal(SIGPIPE, SIG_IGN);
  TerminalChanges changes;
  input_is_terminal_ = isatty(STDIN_FILENO) && tcgetattr(STDIN_FILENO, &changes.saved_modes) == 0;
  draws_on_screen_ = isatty(STDOUT_FILENO) && HasCursorControl();
  charset_ = Charset::FromLocale();
  changes.draws_lines_from_g0 = !charset_.IsUtf8();
  if (input_is_terminal_) {
    changes.keyboard_fd = STDIN_FILENO;
    echo_ = SinkFor(STDIN_FILENO);
  }
  output_ = SinkFor(STDOUT_FILENO);
  error_ = SinkFor(STDERR_FILENO);
  if (draws_on_screen_) changes.screen = output_;
  if (input_is_terminal_ || draws_on_screen_) TakeTerminal(changes);
}

bool PosixDevice::DrainWakePipe() {
  char bytes[64];
  bool woken = false;
  while (read(wake_fd_, bytes, sizeof bytes) > 0) woken = true;
  return woken;
}

ConsoleDevice::Wait PosixDevice::ReadInput(std::string& into, int timeout_ms) {
  if (input_over_) return *input_over_;
  // Input ends only when a pipe or a file says so. A terminal never does: it sends Ctrl+D as a
  // byte, so a terminal that reads nothing or fails has gone away (a hang-up), and so has input
  // that cannot be read at all.
  const auto over = [this](Wait ending) { return *(input_over_ = ending); };
  pollfd watched[2] = {{STDIN_FILENO, POLLIN, 0}, {wake_fd_, POLLIN, 0}};
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

bool PosixDevice::Sleep(int timeout_ms) {
  pollfd wake{wake_fd_, POLLIN, 0};
  const int ready = WaitForDescriptors(&wake, 1, timeout_ms);
  return ready > 0 && DrainWakePipe();
}

int64_t PosixDevice::NowMilliseconds() {
  return MonotonicMilliseconds();
}

WindowSize PosixDevice::Size() {
  winsize size{};
  if (ioctl(STDOUT_FILENO, TIOCGWINSZ, &size) == 0 && size.ws_col > 0 && size.ws_row > 0) {
    return {size.ws_col, size.ws_row};
  }
  return {80, 24};
}

void PosixDevice::WriteOutput(std::string_view bytes) {
  WriteAll(output_, bytes);
}

void PosixDevice::WriteEcho(std::string_view bytes) {
  if (echo_.fd >= 0) WriteAll(echo_, bytes);
}

void PosixDevice::EndProcess(int status, std::string_view error_message) {
  RestoreTerminalForExit();  // from here on no signal may interrupt
  if (!error_message.empty()) WriteLine(error_, error_message);
  std::exit(status);
}
