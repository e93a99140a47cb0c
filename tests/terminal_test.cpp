// The real program in a pseudo-terminal whose screen a terminal emulator reads, and with its input
// and output as pipes and files.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <termios.h>

#include <string>

#include "console/screen_renderer.h"
#include "tests/support/pty_terminal.h"
#include "tests/support/temp_dir.h"

namespace {

constexpr int kTimeoutMs = 5000;
constexpr char kWelcomeLine[] = " Press N key to create a new text file.";

int ExitCode(int status) {
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

TEST(Renderer, ColoursAndGlyphsAsTheEmulatorShowsThemClippedToTheTerminal) {
  CellScreen screen(120, 31);
  for (uint16_t attribute = 1; attribute <= 9; ++attribute) {
    screen.SetAttribute(attribute);
    screen.Write(std::to_string(attribute) + "╔");
  }
  screen.MoveCursor(0, 9);
  screen.Write(std::string(120, '-'));
  PtyTerminal terminal(30, 10);
  ScreenRenderer renderer;
  terminal.PrintAsShell(renderer.Render(screen, 30, 10));
  // Blue, green, cyan, red, magenta, yellow, light grey as the default, dark grey, bright blue.
  const int palette[] = {4, 2, 6, 1, 5, 3, -1, 8, 12};
  for (int i = 0; i < 9; ++i) {
    EXPECT_EQ(terminal.CharAt(2 * i + 1, 0), U'╔');
    EXPECT_EQ(terminal.ForegroundAt(2 * i, 0), palette[i]) << "attribute " << i + 1;
  }
  EXPECT_EQ(terminal.RowText(9), std::string(30, '-'));  // the last row, without scrolling
  EXPECT_EQ(terminal.RowText(8), std::string(30, ' '));
  EXPECT_EQ(renderer.Render(screen, 30, 10), "");  // nothing changed, nothing sent
}

// One run of the program in a 120 by 31 terminal, after a shell prompt.
struct Session {
  void StartAfterPrompt(std::string_view first_text = kWelcomeLine) {
    terminal.PrintAsShell("$ quillomat\n");
    modes_before = terminal.SlaveModes();
    terminal.Start({QUILLOMAT_PROGRAM}, dir.Path());
    ASSERT_TRUE(terminal.WaitForText(first_text, kTimeoutMs)) << terminal.ScreenDump();
  }

  // As before the run: modes, the shell's screen, a visible cursor, default colours.
  void ExpectTerminalRestored() {
    const termios now = terminal.SlaveModes();
    EXPECT_EQ(now.c_lflag, modes_before.c_lflag);
    EXPECT_EQ(now.c_iflag, modes_before.c_iflag);
    EXPECT_TRUE(std::equal(now.c_cc, now.c_cc + NCCS, modes_before.c_cc));
    EXPECT_FALSE(terminal.AltScreenActive());
    EXPECT_TRUE(terminal.CursorVisible());
    EXPECT_EQ(terminal.RowText(0).substr(0, 11), "$ quillomat") << terminal.ScreenDump();
    terminal.PrintAsShell("Z");
    const auto [column, row] = terminal.Cursor();
    EXPECT_EQ(terminal.ForegroundAt(column - 1, row), -1);
  }

  TempDir dir;
  PtyTerminal terminal{120, 31};
  termios modes_before{};
};

TEST(Terminal, WelcomeThenNamingWithTheNTypedThenExitRestoresTheTerminal) {
  Session s;
  s.StartAfterPrompt();
  EXPECT_TRUE(s.terminal.AltScreenActive());
  EXPECT_EQ(s.terminal.CharAt(0, 0), U'╔');
  EXPECT_EQ(s.terminal.CharAt(47, 8), U'╝');
  EXPECT_EQ(s.terminal.CharAt(19, 1), U'Q');
  EXPECT_EQ(s.terminal.Cursor(), std::make_pair(3, 16));
  s.terminal.Send("n");
  ASSERT_TRUE(s.terminal.WaitForText("Name your file.", kTimeoutMs)) << s.terminal.ScreenDump();
  ASSERT_TRUE(s.terminal.WaitFor([&] { return s.terminal.CharAt(3, 6) == U'n'; }, kTimeoutMs));
  EXPECT_FALSE(s.terminal.WaitForText(kWelcomeLine, 0));
  s.terminal.Send(
      "\x7f"
      "di\x1b[Dary");
  ASSERT_TRUE(s.terminal.WaitForText("║  diary ", kTimeoutMs)) << s.terminal.ScreenDump();
  s.terminal.Send("\r");
  ASSERT_TRUE(s.terminal.WaitForExit(kTimeoutMs));
  EXPECT_EQ(ExitCode(s.terminal.ExitStatus()), 0);
  s.ExpectTerminalRestored();
}

TEST(Terminal, SignalsEndItTheDefaultWayWithTheTerminalRestored) {
  const std::pair<int, const char*> signals[] = {
      {SIGINT, "\x03"}, {SIGQUIT, "\x1c"}, {SIGTERM, ""}, {SIGHUP, ""}};
  for (const auto& [signal_number, key] : signals) {
    Session s;
    s.StartAfterPrompt();
    *key ? s.terminal.Send(key) : s.terminal.Signal(signal_number);
    ASSERT_TRUE(s.terminal.WaitForExit(kTimeoutMs));
    EXPECT_TRUE(WIFSIGNALED(s.terminal.ExitStatus()));
    EXPECT_EQ(WTERMSIG(s.terminal.ExitStatus()), signal_number);
    s.ExpectTerminalRestored();
  }
}

// Resizing, and a suspend that no shell resumes (so the program carries on at once), both
// redraw the screen from scratch.
TEST(Terminal, SmallTerminalShowsWhatFitsAndResizeAndSuspendRedraw) {
  Session s;
  s.terminal.Resize(30, 8);
  s.StartAfterPrompt("Press N key to create");
  s.terminal.Resize(120, 31);
  ASSERT_TRUE(s.terminal.WaitFor([&] { return s.terminal.CharAt(47, 8) == U'╝'; }, kTimeoutMs));
  const size_t drawn = s.terminal.BytesReceived();
  s.terminal.Signal(SIGTSTP);
  ASSERT_TRUE(
      s.terminal.WaitFor([&] { return s.terminal.BytesReceived() > drawn + 700; }, kTimeoutMs));
  EXPECT_TRUE(s.terminal.AltScreenActive());
  EXPECT_TRUE(s.terminal.WaitForText(kWelcomeLine, kTimeoutMs)) << s.terminal.ScreenDump();
}

struct PipedRun {
  int exit_code;
  std::string out;
  std::string err;
};

PipedRun RunWithPipes(const std::string& input) {
  TempDir dir;
  PtyTerminal terminal(120, 31);
  terminal.Start(
      {QUILLOMAT_PROGRAM}, dir.Path(),
      {.stdin_from_pipe = true, .stdout_file = dir.Path("out"), .stderr_file = dir.Path("err")});
  terminal.WriteStdin(input);
  terminal.CloseStdin();
  EXPECT_TRUE(terminal.WaitForExit(kTimeoutMs));
  EXPECT_EQ(terminal.BytesReceived(), 0u) << "wrote to the terminal";
  return {ExitCode(terminal.ExitStatus()), dir.Read("out"), dir.Read("err")};
}

TEST(PipedRun, TextsAndGlyphsInOrderWithoutEscapes) {
  const PipedRun run = RunWithPipes("ndiary\n");
  EXPECT_EQ(run.exit_code, 0) << run.err;
  size_t from = 0;
  for (const char* part :
       {"╔═", "╗║", "╝", "Quillomat", " Press N key to create a new text file.",
        " Saved files are stored in Quillomat/txt/ ", "╔", "╝", "Quillomat", " Name your file."}) {
    from = run.out.find(part, from);
    ASSERT_NE(from, std::string::npos) << "missing in order: " << part << "\n" << run.out;
  }
  EXPECT_EQ(run.out.find('\x1b'), std::string::npos);
}

TEST(PipedRun, InputEndingBeforeNEndsTheRunWithStatusOneAndOneLine) {
  for (const std::string input : {"", "xyz", "\x1b[A\r\n"}) {
    const PipedRun run = RunWithPipes(input);
    EXPECT_EQ(run.exit_code, 1) << testing::PrintToString(input);
    EXPECT_NE(run.err.find("input ended"), std::string::npos) << run.err;
    EXPECT_EQ(run.err.find('\n'), run.err.size() - 1) << run.err;
  }
}

TEST(PipedRun, KeyboardInputIsEchoedOnTheTerminalWhenOutputIsAFile) {
  TempDir dir;
  PtyTerminal terminal(120, 31);
  terminal.Start({QUILLOMAT_PROGRAM}, dir.Path(), {false, dir.Path("out")});
  // Keys typed before the program takes the keyboard would be echoed by the terminal itself.
  ASSERT_TRUE(
      terminal.WaitFor([&] { return !(terminal.SlaveModes().c_lflag & ECHO); }, kTimeoutMs));
  terminal.Send("n");
  terminal.Send("otez\x7fs\r");
  ASSERT_TRUE(terminal.WaitForExit(kTimeoutMs));
  EXPECT_EQ(ExitCode(terminal.ExitStatus()), 0);
  EXPECT_EQ(terminal.RowText(0).substr(0, 6), "notes ") << terminal.ScreenDump();
  EXPECT_EQ(dir.Read("out").find('\x1b'), std::string::npos);
}

}  // namespace
