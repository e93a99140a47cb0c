// Keyboard and piped input through the console: the line editor and its echo, key polls and the
// key wait.
#include <gtest/gtest.h>

#include <string>

#include "console/input_channel.h"
#include "tests/support/test_console.h"

namespace {

constexpr ScriptedDeviceOptions kPipe{.input_is_terminal = false, .input_ends = true};

// What eight cells show after a line is echoed: one cell per character (two for a wide one),
// invalid bytes as U+FFFD, and blanks where erased characters were.
std::string ShownInEightCells(std::string_view line) {
  std::string shown;
  int cells = 0;
  for (size_t length = 0; !line.empty(); line.remove_prefix(length)) {
    const Utf8Character character = DecodeUtf8(line);
    AppendUtf8(shown, character.codepoint);
    cells += CellWidth(character.codepoint);
    length = character.length;
  }
  return shown + std::string(static_cast<size_t>(8 - cells), ' ');
}

TEST(LineEditor, KeysGiveTheLineAndTheEchoShowsExactlyIt) {
  const std::pair<std::string, std::string> cases[] = {
      {"diary\r", "diary"},
      {"diary\nmore\r", "diary"},
      {"nd\177\177\177diary\r", "diary"},                        // Backspace, also on an empty line
      {"ab\010\r", "a"},                                         // Ctrl+H
      {"caf\xc3\xa9\177e\r", "cafe"},                            // a two-byte character goes whole
      {"5\xe2\x82\xac\177\r", "5"},                              // three bytes
      {"x\xf0\x9f\x98\x80\177\r", "x"},                          // four bytes
      {"a\xff\xe2\x82\x80\x80\xe2\x82\177\177\177\177\r", "a"},  // invalid, too long, cut short
      {"ab\xc3\xa9\025xy\r", "xy"},                              // Ctrl+U
      {"a\x1b[Db\x1b[1;5C\x1b[15~c\x1b[200~\r", "abc"},          // CSI keys
      {"a\x1bOPb\x1bO1;2Q\x1b[[A\r", "ab"},                      // SS3 keys, Linux console F1
      {"a\x1bxb\x1b\x1b[A\x1b\r", "ab"},       // Alt+x, Escape before a key, a lone Escape
      {"a\x1b[\x1b[Ab\x1bO\x1bOPc\r", "abc"},  // Alt+[ or Alt+O, then a special key
      {"a\001\t\013\037b\r", "ab"},            // other control bytes
      {"a\xff\xc3(\xe6\x97\xa5\r", "a\xff\xc3(\xe6\x97\xa5"},  // bytes kept as typed
  };
  for (const auto& [keys, line] : cases) {
    TestConsole test({keys});
    EXPECT_EQ(ReadLine(), line) << testing::PrintToString(keys);
    EXPECT_EQ(test.Text(0, 0, 8), ShownInEightCells(line)) << testing::PrintToString(keys);
  }
}

TEST(LineEditor, CrLfEndsOneLineAndCtrlDOnAnEmptyLineEndsInput) {
  TestConsole test({"first\r\nsecond\r\n\r", "x\004\177\004later\r"});
  for (const char* line : {"first", "second", "", ""}) EXPECT_EQ(ReadLine(), line);
  EXPECT_EQ(ReadLine(), "");  // later reads return at once
  WaitForKey();               // so does the key wait
}

TEST(LineEditor, LoneEscapeEndsAfterAMomentAndSplitSequencesStayWhole) {
  TestConsole test({"a\x1b"});
  test.device.steps.push_back({"x\x1b[", 2 * InputChannel::kLoneEscapeMilliseconds});
  test.device.steps.push_back({"1;5", 20});
  test.device.steps.push_back({"Cb\r", 20});
  EXPECT_EQ(ReadLine(), "axb");
}

// A resize, or a resume after a stop, is no key: it must not cut a key's sequence short.
TEST(LineEditor, ScreenEventBetweenTheBytesOfASequenceKeepsItWhole) {
  TestConsole test({"\x1b"});
  for (const char* bytes : {"[A", "x\x1b", "[B", "b\r"}) {
    // The event takes the whole wait; the rest of the key comes with it.
    test.device.steps.push_back({"", InputChannel::kLoneEscapeMilliseconds, WindowSize{60, 20}});
    test.device.steps.push_back({bytes, 0});
  }
  WaitForKey();  // the up arrow, whole
  EXPECT_EQ(ReadLine(), "xb");
}

// A polling loop blocks once per round of keys, so it neither spins nor delays any key.
TEST(KeyPoll, BlocksOncePerRoundOfKeys) {
  TestConsole test;
  for (int round = 0; round < 5; ++round) {
    for (int digit = 1; digit <= 9; ++digit) IsKeyPressed('0' + digit);
  }
  EXPECT_EQ(test.device.now, 4 * InputChannel::kPollWaitMilliseconds);
}

TEST(KeyPoll, EndedInputEndsTheLoopsWithStatusOneUnlessTheKeyIsQueued) {
  TestConsole found({"xn"}, kPipe);
  while (!IsKeyPressed(kKeyN)) {
  }
  for (const char* input : {"", "ab"}) {
    TestConsole test({input}, kPipe);
    int rounds = 0;
    try {
      for (;; ++rounds) {
        for (int digit = 1; digit <= 9; ++digit) ASSERT_FALSE(IsKeyPressed('0' + digit));
      }
    } catch (const ProcessEnded& ended) {
      EXPECT_EQ(ended.status, 1);
    }
    EXPECT_LE(rounds, 3);
  }
}

TEST(PipedInput, LinesKeepTheirBytesAndLoseOnlyTheLineEndWithoutEcho) {
  TestConsole test({"ndiary\r\n4he\177llo\x1b[A\n", "tail\rx"}, kPipe);
  for (const char* line : {"ndiary", "4he\177llo\x1b[A", "tail\rx", ""})
    EXPECT_EQ(ReadLine(), line);
  EXPECT_EQ(test.Text(0, 0, 1), " ");
}

TEST(WaitForKey, TakesOneKeyOrOneWholeSequence) {
  TestConsole test({"q\x1b[15~\x1bOP\x1b[\x1b[A\x1b\nz\n"}, kPipe);
  for (int key = 0; key < 6; ++key) WaitForKey();  // q, F5, F1, Alt+[, up, a lone Escape
  EXPECT_EQ(ReadLine(), "");
  EXPECT_EQ(ReadLine(), "z");
}

}  // namespace
