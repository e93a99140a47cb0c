// The program with its input and output as pipes and files: plain text out, no escape sequences,
// and input that ends never leaves it spinning.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <termios.h>

#include <string>
#include <vector>

#include "tests/support/pty_terminal.h"
#include "tests/support/temp_dir.h"

namespace {

constexpr int kTimeoutMs = 5000;

struct PipedRun {
  int status;
  std::string out;
  std::string err;
};

// Runs the program with piped input and its output and errors in files.
PipedRun RunPiped(const std::string& input, bool close_input = true) {
  TempDir dir;
  PtyTerminal terminal(120, 31);
  terminal.Start({QUILLOMAT_PROGRAM}, dir.Path().string(),
                 {.stdin_from_pipe = true,
                  .stdout_file = (dir.Path() / "out").string(),
                  .stderr_file = (dir.Path() / "err").string()});
  terminal.WriteStdin(input);
  if (close_input) terminal.CloseStdin();
  EXPECT_TRUE(terminal.WaitForExit(kTimeoutMs)) << "still running";
  EXPECT_EQ(terminal.BytesReceived(), 0u) << "wrote to the terminal";
  return {terminal.ExitStatus(), dir.Read("out"), dir.Read("err")};
}

void ExpectInOrder(const std::string& text, const std::vector<std::string>& parts) {
  size_t from = 0;
  for (const std::string& part : parts) {
    const size_t at = text.find(part, from);
    ASSERT_NE(at, std::string::npos) << "missing in order: " << part << "\nin: " << text;
    from = at + part.size();
  }
}

TEST(PlainMode, PipedRunWritesTextsAndGlyphsInOrderWithoutEscapes) {
  const PipedRun run = RunPiped("ndiary\n");
  EXPECT_TRUE(WIFEXITED(run.status) && WEXITSTATUS(run.status) == 0) << run.err;
  ExpectInOrder(run.out, {"╔═", "╗║", "╝", "Quillomat", " Press N key to create a new text file.",
                          " Saved files are stored in Quillomat/txt/ ", "╔", "╝", "Quillomat",
                          " Name your file."});
  EXPECT_EQ(run.out.find('\x1b'), std::string::npos);
  EXPECT_EQ(run.err, "");
}

TEST(PlainMode, InputEndingBeforeNEndsTheRunWithStatusOne) {
  for (const std::string input : {"", "xyz", "\x1b[A\r\n"}) {
    const PipedRun run = RunPiped(input);
    EXPECT_TRUE(WIFEXITED(run.status) && WEXITSTATUS(run.status) == 1) << input;
    EXPECT_NE(run.err.find("input ended"), std::string::npos) << run.err;
    EXPECT_EQ(run.err.find('\n'), run.err.size() - 1) << "one line: " << run.err;
  }
}

TEST(PlainMode, KeyboardInputIsStillEchoedWhenOutputIsAFile) {
  TempDir dir;
  PtyTerminal terminal(120, 31);
  terminal.Start(
      {QUILLOMAT_PROGRAM}, dir.Path().string(),
      {.stdin_from_pipe = false, .stdout_file = (dir.Path() / "out").string(), .stderr_file = {}});
  // Keys typed before the program takes the keyboard would be echoed by the terminal itself.
  ASSERT_TRUE(
      terminal.WaitFor([&] { return !(terminal.SlaveModes().c_lflag & ECHO); }, kTimeoutMs));
  terminal.Send("n");
  terminal.Send("otez\x7fs\r");
  ASSERT_TRUE(terminal.WaitForExit(kTimeoutMs));
  EXPECT_EQ(WEXITSTATUS(terminal.ExitStatus()), 0);
  EXPECT_EQ(terminal.RowText(0).substr(0, 5), "notes") << terminal.ScreenDump();
  EXPECT_EQ(dir.Read("out").find('\x1b'), std::string::npos);
}

TEST(PlainMode, PipedInputDrivesTheDrawnScreen) {
  TempDir dir;
  PtyTerminal terminal(120, 31);
  terminal.Start({QUILLOMAT_PROGRAM}, dir.Path().string(),
                 {.stdin_from_pipe = true, .stdout_file = {}, .stderr_file = {}});
  ASSERT_TRUE(terminal.WaitForText("Press N key", kTimeoutMs)) << terminal.ScreenDump();
  terminal.WriteStdin("ndiary\n");
  ASSERT_TRUE(terminal.WaitForExit(kTimeoutMs));
  EXPECT_EQ(WEXITSTATUS(terminal.ExitStatus()), 0);
  EXPECT_FALSE(terminal.AltScreenActive());
}

}  // namespace
