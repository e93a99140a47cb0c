// Waiting on descriptors and writing to them with a deadline. Nothing here allocates and every
// call is async-signal-safe, so that the signal handlers that restore the terminal use it too.
#pragma once

#include <poll.h>

#include <cstdint>
#include <string_view>

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

// Files and pipes are written as they are; a terminal through a description of the program's own.
// The keyboard's terminal is opened for writing this way even when standard input was opened for
// reading only. Not for handlers: it opens a file.
Sink SinkFor(int fd);

// Who writes, and so how long an output that takes nothing (a terminal nobody reads) may hold the
// write up: the program gives up after a second without progress; a signal handler, which must
// let the process end or stop soon, after 200 ms in all.
enum class Writer { kProgram, kHandler };

void WriteAll(const Sink& sink, std::string_view bytes, Writer writer = Writer::kProgram);
// The text and a line end, in one write when it fits a buffer on the stack.
void WriteLine(const Sink& sink, std::string_view text);

// poll(), falling back to select() where the system's poll() refuses a descriptor that is open.
int WaitForDescriptors(pollfd* fds, nfds_t count, int timeout_ms);

int64_t MonotonicMilliseconds();
