// The real program in a 120 by 31 pseudo-terminal, its screen read by a terminal emulator.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <termios.h>

#include <string>

#include "tests/support/pty_terminal.h"
#include "tests/support/temp_dir.h"

namespace {

constexpr int kTimeoutMs = 5000;
constexpr char kWelcomeLine[] = " Press N key to create a new text file.";

bool SameModes(const termios& a, const termios& b) {
  return a.c_iflag == b.c_iflag && a.c_oflag == b.c_oflag && a.c_cflag == b.c_cflag &&
         a.c_lflag == b.c_lflag && std::equal(a.c_cc, a.c_cc + NCCS, b.c_cc);
}

class ProgramInTerminal : public testing::Test {
 protected:
  ProgramInTerminal() : terminal_(120, 31) {}

  void StartAfterPrompt(std::string_view first_text = kWelcomeLine) {
    terminal_.PrintAsShell("$ quillomat\n");
    modes_before_ = terminal_.SlaveModes();
    terminal_.Start({QUILLOMAT_PROGRAM}, dir_.Path().string());
    ASSERT_TRUE(terminal_.WaitForText(first_text, kTimeoutMs)) << terminal_.ScreenDump();
  }

  // The user's terminal is exactly as before: modes, main screen with the prompt, cursor shown,
  // default colours for what the shell prints next.
  void ExpectTerminalRestored() {
    EXPECT_TRUE(SameModes(terminal_.SlaveModes(), modes_before_));
    EXPECT_FALSE(terminal_.AltScreenActive());
    EXPECT_TRUE(terminal_.CursorVisible());
    EXPECT_EQ(terminal_.RowText(0).substr(0, 11), "$ quillomat") << terminal_.ScreenDump();
    terminal_.PrintAsShell("Z");
    const PtyTerminal::Position cursor = terminal_.Cursor();
    EXPECT_EQ(terminal_.ForegroundAt(cursor.column - 1, cursor.row), -1);
    EXPECT_EQ(terminal_.BackgroundAt(cursor.column - 1, cursor.row), -1);
  }

  TempDir dir_;
  PtyTerminal terminal_;
  termios modes_before_{};
};

TEST_F(ProgramInTerminal, WelcomeThenNamingWithTheNTypedThenExitRestoresTheTerminal) {
  StartAfterPrompt();
  EXPECT_TRUE(terminal_.AltScreenActive());
  EXPECT_EQ(terminal_.RowText(0).substr(0, 9), "╔══");
  EXPECT_EQ(terminal_.RowText(1).substr(19 + 2, 9), "Quillomat");  // after the 3-byte ║
  EXPECT_EQ(terminal_.CharAt(47, 8), U'╝');
  EXPECT_EQ(terminal_.CharAt(48, 8), U' ');
  EXPECT_EQ(terminal_.Cursor().column, 3);
  EXPECT_EQ(terminal_.Cursor().row, 16);

  terminal_.Send("n");
  ASSERT_TRUE(terminal_.WaitForText("Name your file.", kTimeoutMs)) << terminal_.ScreenDump();
  ASSERT_TRUE(terminal_.WaitFor([&] { return terminal_.CharAt(3, 6) == U'n'; }, kTimeoutMs));
  EXPECT_FALSE(terminal_.WaitForText(kWelcomeLine, 0));
  terminal_.Send(
      "\x7f"
      "di\x1b[Dary");
  ASSERT_TRUE(terminal_.WaitForText("diary", kTimeoutMs)) << terminal_.ScreenDump();
  EXPECT_EQ(terminal_.CharAt(3, 6), U'd');
  terminal_.Send("\r");
  ASSERT_TRUE(terminal_.WaitForExit(kTimeoutMs));
  EXPECT_TRUE(WIFEXITED(terminal_.ExitStatus()) && WEXITSTATUS(terminal_.ExitStatus()) == 0);
  ExpectTerminalRestored();
}

struct SignalCase {
  const char* name;
  int signal_number;
  const char* typed;  // the key that sends it, or nothing for kill
  friend void PrintTo(const SignalCase& c, std::ostream* out) { *out << c.name; }
};

class ProgramSignalled : public ProgramInTerminal,
                         public testing::WithParamInterface<SignalCase> {};

TEST_P(ProgramSignalled, DiesOfTheSignalWithTheTerminalRestored) {
  StartAfterPrompt();
  terminal_.Send("n");
  ASSERT_TRUE(terminal_.WaitForText("Name your file.", kTimeoutMs));
  if (*GetParam().typed) {
    terminal_.Send(GetParam().typed);
  } else {
    terminal_.Signal(GetParam().signal_number);
  }
  ASSERT_TRUE(terminal_.WaitForExit(kTimeoutMs));
  EXPECT_TRUE(WIFSIGNALED(terminal_.ExitStatus()));
  EXPECT_EQ(WTERMSIG(terminal_.ExitStatus()), GetParam().signal_number);
  ExpectTerminalRestored();
}

INSTANTIATE_TEST_SUITE_P(Signals, ProgramSignalled,
                         testing::Values(SignalCase{"CtrlC", SIGINT, "\x03"},
                                         SignalCase{"CtrlBackslash", SIGQUIT, "\x1c"},
                                         SignalCase{"Term", SIGTERM, ""},
                                         SignalCase{"Hangup", SIGHUP, ""}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(ProgramInTerminal, SmallTerminalShowsWhatFitsAndResizeRedraws) {
  terminal_.Resize(30, 8);
  StartAfterPrompt("Press N key to create");
  EXPECT_EQ(terminal_.CharAt(29, 0), U'═');
  terminal_.Resize(120, 31);
  ASSERT_TRUE(terminal_.WaitFor([&] { return terminal_.CharAt(47, 8) == U'╝'; }, kTimeoutMs))
      << terminal_.ScreenDump();
  terminal_.Send("n\r");
  ASSERT_TRUE(terminal_.WaitForExit(kTimeoutMs));
  EXPECT_EQ(WEXITSTATUS(terminal_.ExitStatus()), 0);
}

// With no shell to resume it, a stopped program carries on at once: its screen must come back.
TEST_F(ProgramInTerminal, SuspendWithNoShellToResumeRedrawsAndGoesOn) {
  StartAfterPrompt();
  const size_t drawn = terminal_.BytesReceived();
  terminal_.Signal(SIGTSTP);
  // Leaving and re-entering the screen, then a full repaint of the welcome box.
  ASSERT_TRUE(
      terminal_.WaitFor([&] { return terminal_.BytesReceived() > drawn + 300; }, kTimeoutMs));
  EXPECT_TRUE(terminal_.AltScreenActive());
  ASSERT_TRUE(terminal_.WaitForText(kWelcomeLine, kTimeoutMs)) << terminal_.ScreenDump();
  terminal_.Send("n\r");
  ASSERT_TRUE(terminal_.WaitForExit(kTimeoutMs));
  ExpectTerminalRestored();
}

}  // namespace
