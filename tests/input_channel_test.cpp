#include "console/input_channel.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "console/console.h"
#include "tests/support/scripted_device.h"

namespace {

class NoEcho : public LineEcho {
 public:
  void ShowCharacter(std::string_view) override {}
  void EraseLastCharacter() override {}
  void EndLine() override {}
};

class QuietEvents : public InputChannel::Events {
 public:
  void BeforeWait() override {}
  void OnScreenEvent() override {}
  void OnKeysExhausted() override { throw ProcessEnded{1, "exhausted"}; }
};

struct Channel {
  explicit Channel(std::vector<std::string> chunks, ScriptedDevice::Options options = {})
      : device(std::move(chunks), options), input(device, events) {}
  std::string ReadLine() {
    NoEcho echo;
    return input.ReadLine(echo);
  }
  ScriptedDevice device;
  QuietEvents events;
  InputChannel input;
};

constexpr ScriptedDevice::Options kPipe{.input_is_terminal = false, .input_ends = true};

TEST(KeyPoll, PressLooksWithoutTaking) {
  Channel channel({"xNy\r"});
  EXPECT_FALSE(channel.input.PollKey(kKeyN));  // first poll: no wait yet, nothing queued
  EXPECT_TRUE(channel.input.PollKey(kKeyN));
  EXPECT_EQ(channel.ReadLine(), "xNy");
}

TEST(KeyPoll, APressIsReportedOnceSinceThePreviousPoll) {
  PendingInput queue;
  queue.Append("4");
  EXPECT_TRUE(queue.PollKey('4'));
  EXPECT_FALSE(queue.PollKey('4'));  // still queued, but not new
  queue.Append("4");
  EXPECT_TRUE(queue.PollKey('4'));
  EXPECT_FALSE(queue.PollKey('5'));
}

TEST(KeyPoll, DigitLoopLowestDigitWins) {
  Channel channel({"x93\r"});
  int chosen = 0;
  while (chosen == 0) {
    for (int digit = 1; digit <= 9 && chosen == 0; ++digit) {
      if (channel.input.PollKey('0' + digit)) chosen = digit;
    }
  }
  EXPECT_EQ(chosen, 3);
  EXPECT_EQ(channel.ReadLine(), "x93");  // the digits stay queued for the text
}

// A polling loop must block once per round, not at every key, and must not spin without blocking.
TEST(KeyPoll, BlocksOncePerRoundOfKeys) {
  Channel channel({});
  for (int round = 0; round < 5; ++round) {
    for (int digit = 1; digit <= 9; ++digit) channel.input.PollKey('0' + digit);
  }
  EXPECT_EQ(channel.device.Waits(), 4);
  EXPECT_EQ(channel.device.Now(), 4 * InputChannel::kPollWaitMilliseconds);
}

TEST(KeyPoll, EndedInputWithoutTheKeyEndsTheDigitLoop) {
  Channel channel({"ab"}, kPipe);
  int rounds = 0;
  try {
    for (;; ++rounds) {
      for (int digit = 1; digit <= 9; ++digit) ASSERT_FALSE(channel.input.PollKey('0' + digit));
    }
  } catch (const ProcessEnded& ended) {
    EXPECT_EQ(ended.status, 1);
  }
  EXPECT_LE(rounds, 3);
}

TEST(KeyPoll, EndedInputEndsTheNLoopUnlessTheKeyIsQueued) {
  Channel found({"xn"}, kPipe);
  int polls = 0;
  while (!found.input.PollKey(kKeyN)) ++polls;
  EXPECT_LE(polls, 2);
  Channel empty({}, kPipe);
  EXPECT_THROW(
      {
        for (;;) empty.input.PollKey(kKeyN);
      },
      ProcessEnded);
}

TEST(ReadLine, QueuedBytesComeFirstThenLaterInput) {
  Channel channel({"n", "ote", "s\r"});
  channel.input.PollKey(kKeyN);
  channel.input.PollKey(kKeyN);
  EXPECT_EQ(channel.ReadLine(), "notes");
}

TEST(ReadLine, TerminalInputThatEndsKeepsWhatWasTyped) {
  Channel channel({"dia"}, {.input_is_terminal = true, .input_ends = true});
  EXPECT_EQ(channel.ReadLine(), "dia");
  EXPECT_EQ(channel.ReadLine(), "");
}

TEST(ReadLine, CtrlDEndsInputAndLaterReadsReturnAtOnce) {
  Channel channel(
      {"\x04"
       "later\r"});
  EXPECT_EQ(channel.ReadLine(), "");
  EXPECT_EQ(channel.ReadLine(), "");
  EXPECT_TRUE(channel.input.Ended());
  EXPECT_EQ(channel.input.TakeKey(), "");
}

TEST(ReadLine, LoneEscapeTimesOutAndFollowingKeysCount) {
  Channel channel({"a\x1b"});
  channel.device.AddChunk("x\r", 2 * InputChannel::kLoneEscapeMilliseconds);
  EXPECT_EQ(channel.ReadLine(), "ax");
}

TEST(ReadLine, EscapeSequenceSplitAcrossReadsIsDropped) {
  Channel channel({"a\x1b["});
  channel.device.AddChunk("1;5", 20);
  channel.device.AddChunk("Cb\r", 20);
  // Parts arrive within the escape wait, so the sequence is recognised whole.
  EXPECT_EQ(channel.ReadLine(), "ab");
}

TEST(ReadLine, PipedLinesKeepBytesAndDropOnlyTheLineEnd) {
  Channel channel({"ndiary\r\n4he\x7fllo\x1b[A\n", "tail\rx"}, kPipe);
  EXPECT_EQ(channel.ReadLine(), "ndiary");
  EXPECT_EQ(channel.ReadLine(), "4he\x7fllo\x1b[A");  // bytes pass through unchanged
  EXPECT_EQ(channel.ReadLine(), "tail\rx");           // a lone CR is part of the line
  EXPECT_EQ(channel.ReadLine(), "");
}

TEST(TakeKey, TakesOneKeyOrOneWholeSequenceAndNothingAtTheEnd) {
  Channel channel({"q\x1b[15~\x1bOP\x1b\r"}, kPipe);
  for (const char* key : {"q", "\x1b[15~", "\x1bOP", "\x1b", "\r", ""}) {
    EXPECT_EQ(channel.input.TakeKey(), key);
  }
}

}  // namespace
