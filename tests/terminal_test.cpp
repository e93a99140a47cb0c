// The real program in a pseudo-terminal whose screen a terminal emulator reads, and with its input
// and output as pipes and files.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <termios.h>

#include <filesystem>
#include <set>
#include <string>

#include "tests/support/pty_terminal.h"
#include "tests/support/temp_dir.h"

namespace {

constexpr int kTimeoutMs = 5000;
constexpr char kWelcomeLine[] = " Press N key to create a new text file.";

int ExitCode(int status) {
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// One run of the program in a 120 by 31 terminal, after a shell prompt.
struct Session {
  void StartAfterPrompt(std::string_view first_text = kWelcomeLine) {
    terminal.PrintAsShell("$ quillomat\n");
    modes_before = terminal.SlaveModes();
    terminal.Start({QUILLOMAT_PROGRAM}, dir.Path());
    ASSERT_TRUE(Shows(first_text));
  }

  testing::AssertionResult Shows(std::string_view text) {
    if (terminal.WaitForText(text, kTimeoutMs)) return testing::AssertionSuccess();
    return testing::AssertionFailure() << "never showed " << text << "\n" << terminal.ScreenDump();
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

// The run a user makes: each screen as the terminal shows it, the document's bytes at each step.
TEST(Terminal, OneWholeRunScreenByScreenThenTheTerminalIsRestored) {
  Session s;
  PtyTerminal& t = s.terminal;
  s.StartAfterPrompt();
  EXPECT_TRUE(t.AltScreenActive());
  t.Send("n");
  ASSERT_TRUE(s.Shows("║  n "));    // the N pressed starts the name
  t.Send("\177d\x13i\x1b[Dary\r");  // Ctrl+S must not freeze the screen: it is dropped
  ASSERT_TRUE(s.Shows("║  The file has been saved as diary.txt        ║"));
  EXPECT_TRUE(std::filesystem::is_regular_file(s.dir.Path("txt/diary.txt")));
  EXPECT_EQ(s.dir.Read("txt/diary.txt"), "");

  ASSERT_TRUE(s.Shows("║ Select a text color and press the corresponding key: 1 2 3 4 5 6 7 8 9 "));
  EXPECT_EQ(t.CharAt(118, 29), U'╝');
  const int palette[] = {-1, 4, 2, 6, 1, 5, 3, -1, 8, 12};  // the prompt, then blue to bright blue
  for (int digit = 0; digit <= 9; ++digit)
    EXPECT_EQ(t.ForegroundAt(53 + 2 * digit, 1), palette[digit]);
  t.Send("4");
  ASSERT_TRUE(
      s.Shows("║ Enter your text and press enter to save it." + std::string(73, ' ') + "║"));
  ASSERT_TRUE(t.WaitFor([&] { return t.CharAt(1, 3) == U'4'; }, kTimeoutMs));
  EXPECT_EQ(t.ForegroundAt(1, 3), 1);  // red
  t.Send("hello\r");
  ASSERT_TRUE(s.Shows("║ file has been saved." + std::string(96, ' ') + "║"));
  EXPECT_EQ(s.dir.Read("txt/diary.txt"), "4hello");

  ASSERT_TRUE(s.Shows("║ Quillomat v1.0 by the Quillomat authors      ║"));
  EXPECT_EQ(t.RowText(9), std::string(120, ' '));  // nothing of the menu is left
  t.Send("q");
  ASSERT_TRUE(t.WaitForExit(kTimeoutMs));
  EXPECT_EQ(ExitCode(t.ExitStatus()), 0);
  EXPECT_EQ(s.dir.Entries(), (std::set<std::string>{"txt", "txt/diary.txt"}));
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
      s.terminal.WaitFor([&] { return s.terminal.BytesReceived() > drawn + 600; }, kTimeoutMs));
  EXPECT_TRUE(s.terminal.AltScreenActive());
  EXPECT_TRUE(s.Shows(kWelcomeLine));
}

struct PipedRun {
  int exit_code;
  std::string out;
  std::string err;
};

PipedRun RunWithPipes(const TempDir& dir, const std::string& input) {
  PtyTerminal terminal(120, 31);
  terminal.Start(
      {QUILLOMAT_PROGRAM}, dir.Path(),
      {.stdin_from_pipe = true, .stdout_file = dir.Path("out"), .stderr_file = dir.Path("err")});
  terminal.WriteStdin(input);
  terminal.CloseStdin();
  EXPECT_TRUE(terminal.WaitForExit(2 * kTimeoutMs));
  EXPECT_EQ(terminal.BytesReceived(), 0u) << "wrote to the terminal";
  return {ExitCode(terminal.ExitStatus()), dir.Read("out"), dir.Read("err")};
}

TEST(PipedRun, AWholeRunSavesTheLineAndWritesTheTextsInOrderWithoutEscapes) {
  TempDir dir;
  const PipedRun run = RunWithPipes(dir, "ndiary\n4hello\nq");
  EXPECT_EQ(run.exit_code, 0) << run.err;
  EXPECT_EQ(run.err, "");
  EXPECT_EQ(dir.Read("txt/ndiary.txt"), "4hello");
  size_t from = 0;
  for (const char* part :
       {"╔═", "╗║", "╝", "Quillomat", " Press N key to create a new text file.",
        " Saved files are stored in Quillomat/txt/ ", "╔", "╝", "Quillomat", " Name your file.",
        " The file has been saved as ndiary.txt\n╔",
        "Select a text color and press the corresponding key: 1 2 3 4 5 6 7 8 9 ",
        "Enter your text and press enter to save it.", "file has been saved.", "╔", "╝",
        " Quillomat v1.0 by the Quillomat authors"}) {
    from = run.out.find(part, from);
    ASSERT_NE(from, std::string::npos) << "missing in order: " << part << "\n" << run.out;
  }
  EXPECT_EQ(run.out.find('\x1b'), std::string::npos);
}

TEST(PipedRun, InputEndingBeforeNEndsTheRunWithStatusOneAndOneLine) {
  for (const std::string input : {"", "xyz", "\x1b[A\r\n"}) {
    TempDir dir;
    const PipedRun run = RunWithPipes(dir, input);
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
  ASSERT_TRUE(terminal.WaitFor([&] { return std::filesystem::exists(dir.Path("txt/notes.txt")); },
                               kTimeoutMs));
  EXPECT_EQ(terminal.RowText(0).substr(0, 6), "notes ") << terminal.ScreenDump();
  terminal.Send("\x03");
  ASSERT_TRUE(terminal.WaitForExit(kTimeoutMs));
  EXPECT_EQ(dir.Read("out").find('\x1b'), std::string::npos);
}

}  // namespace
