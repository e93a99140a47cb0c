// Proves the pty harness against /bin/sh and standard utilities.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <fstream>
#include <sstream>
#include <string>

#include "tests/support/pty_terminal.h"

namespace quillomat_test {
namespace {

constexpr int kTimeoutMs = 2000;

void StartShell(PtyTerminal& term, const std::string& script, const StartOptions& options = {}) {
  term.Start({"/bin/sh", "-c", script}, "/", options);
}

TEST(PtyTerminalTest, ReadsPaletteColoursBackAsIndexes) {
  PtyTerminal term(40, 5);
  StartShell(term, R"(printf '\033[31mred\033[0m plain \033[1;94;42mhi\033[0m')");
  ASSERT_TRUE(term.WaitForExit(kTimeoutMs));

  EXPECT_EQ(term.RowText(0).substr(0, 12), "red plain hi") << term.ScreenDump();
  EXPECT_EQ(term.ForegroundAt(0, 0), 1);
  EXPECT_EQ(term.ForegroundAt(2, 0), 1);
  EXPECT_EQ(term.BackgroundAt(0, 0), -1);
  EXPECT_EQ(term.ForegroundAt(4, 0), -1);
  EXPECT_EQ(term.CharAt(4, 0), U'p');
  EXPECT_EQ(term.ForegroundAt(10, 0), 12);
  EXPECT_EQ(term.BackgroundAt(10, 0), 2);
  EXPECT_TRUE(term.CellAt(10, 0).bold);
  EXPECT_EQ(term.CharAt(20, 0), U' ');
  EXPECT_EQ(term.ForegroundAt(20, 0), -1);
}

TEST(PtyTerminalTest, ObservesAltScreenAndRestoresShellScreen) {
  PtyTerminal term(40, 5);
  term.PrintAsShell("$ run\n");
  StartShell(term, R"(printf '\033[?1049h\033[?25lALT'; read x; printf '\033[?1049l\033[?25h')");

  ASSERT_TRUE(term.WaitForText("ALT", kTimeoutMs)) << term.ScreenDump();
  EXPECT_TRUE(term.AltScreenActive());
  EXPECT_FALSE(term.CursorVisible());
  EXPECT_FALSE(term.WaitForText("$ run", 0));

  term.Send("\r");
  ASSERT_TRUE(term.WaitForExit(kTimeoutMs));
  EXPECT_FALSE(term.AltScreenActive());
  EXPECT_TRUE(term.CursorVisible());
  EXPECT_EQ(term.RowText(0).substr(0, 5), "$ run") << term.ScreenDump();
  EXPECT_EQ(term.Cursor().row, 1);
}

TEST(PtyTerminalTest, ReportsExitStatus) {
  PtyTerminal term(20, 3);
  StartShell(term, "exit 3");
  ASSERT_TRUE(term.WaitForExit(kTimeoutMs));
  ASSERT_TRUE(WIFEXITED(term.ExitStatus()));
  EXPECT_EQ(WEXITSTATUS(term.ExitStatus()), 3);
}

TEST(PtyTerminalTest, SlaveModesOutliveTheChild) {
  PtyTerminal term(20, 3);
  EXPECT_NE(term.SlaveModes().c_lflag & ECHO, 0u);
  StartShell(term, "stty -echo; printf done");
  ASSERT_TRUE(term.WaitForExit(kTimeoutMs));
  EXPECT_TRUE(term.WaitForText("done", 0)) << term.ScreenDump();
  EXPECT_EQ(term.SlaveModes().c_lflag & ECHO, 0u);
}

TEST(PtyTerminalTest, PipesStdinAndRedirectsStdout) {
  PtyTerminal term(30, 4);
  StartOptions options;
  options.stdin_from = Redirect::Pipe();
  StartShell(term, "cat", options);
  term.WriteStdin("hello pipe\n");
  term.CloseStdin();
  ASSERT_TRUE(term.WaitForExit(kTimeoutMs));
  EXPECT_EQ(term.RowText(0).substr(0, 10), "hello pipe") << term.ScreenDump();

  char path[] = "/tmp/pty_selftest_XXXXXX";
  const int fd = mkstemp(path);
  ASSERT_GE(fd, 0);
  close(fd);
  PtyTerminal term2(30, 4);
  StartOptions to_file;
  to_file.stdout_to = Redirect::File(path);
  StartShell(term2, "echo to-file; echo to-tty >/dev/tty", to_file);
  ASSERT_TRUE(term2.WaitForExit(kTimeoutMs));
  EXPECT_TRUE(term2.WaitForText("to-tty", 0)) << term2.ScreenDump();
  std::stringstream contents;
  contents << std::ifstream(path).rdbuf();
  unlink(path);
  EXPECT_EQ(contents.str(), "to-file\n");
}

TEST(PtyTerminalTest, AnswersCursorPositionQuery) {
  PtyTerminal term(30, 4);
  StartShell(term,
             R"(stty -echo -icanon; printf '\033[6n'; dd bs=1 count=6 2>/dev/null | tr '\033' E)");
  EXPECT_TRUE(term.WaitForText("E[1;1R", kTimeoutMs)) << term.ScreenDump();
}

TEST(PtyTerminalTest, ResizeReachesTheChild) {
  PtyTerminal term(40, 6);
  StartShell(term, "trap 'stty size; exit 0' WINCH; printf ready; while :; do sleep 0.02; done");
  ASSERT_TRUE(term.WaitForText("ready", kTimeoutMs));
  term.Resize(50, 12);
  EXPECT_TRUE(term.WaitForText("12 50", kTimeoutMs)) << term.ScreenDump();
  EXPECT_TRUE(term.WaitForExit(kTimeoutMs));
  EXPECT_EQ(term.Rows(), 12);
}

}  // namespace
}  // namespace quillomat_test
