// The program's modes on a terminal: the keyboard's terminal switched to non-canonical mode without
// echo, and the screen on the terminal's alternate screen. Both are put back on every way out:
// normal exit, fatal error, the terminating signals, and Ctrl+Z (until the program is resumed).
#pragma once

#include <termios.h>

#include "console/posix/descriptors.h"

// What the program changes, and where.
struct TerminalChanges {
  int keyboard_fd = -1;   // terminal whose modes change, or -1
  termios saved_modes{};  // its modes as the program found them
  Sink screen;            // terminal that shows the alternate screen; fd -1 when none does
  bool draws_lines_from_g0 = false;  // lines are drawn through the DEC special graphics set
};

// Opens the pipe through which the signal handlers say that the screen must be drawn again (a
// resize, a resume) and returns its read end, non-blocking; -1 when there is none.
int OpenWakePipe();
// Installs the signal handlers and enters the program's modes. Called once, before any other
// output, and only when there is something to change.
void TakeTerminal(const TerminalChanges& changes);
// Blocks every signal, so that nothing cuts into the restore, and puts the terminal back as it
// was: the process is about to end.
void RestoreTerminalForExit();
