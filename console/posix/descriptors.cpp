#include "console/posix/descriptors.h"

#include <fcntl.h>
#include <sys/select.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>

namespace {

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

// One write that waits for nothing.
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

}  // namespace

Sink SinkFor(int fd) {
  if (!isatty(fd)) return {fd, false};
  const char* name = ttyname(fd);
  const int own = name ? open(name, O_WRONLY | O_NOCTTY | O_NONBLOCK | O_CLOEXEC) : -1;
  return own >= 0 ? Sink{own, false} : Sink{fd, true};
}

void WriteAll(const Sink& sink, std::string_view bytes, Writer writer) {
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

// Nothing allocated: running out of memory ends the run with a message too.
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

int WaitForDescriptors(pollfd* fds, nfds_t count, int timeout_ms) {
  const int ready = poll(fds, count, timeout_ms);
  if (ready <= 0 || !RefusedByPoll(fds, count)) return ready;
  return SelectDescriptors(fds, count, timeout_ms);
}

int64_t MonotonicMilliseconds() {
  timespec now{};
  clock_gettime(CLOCK_MONOTONIC, &now);
  return static_cast<int64_t>(now.tv_sec) * 1000 + now.tv_nsec / 1000000;
}
