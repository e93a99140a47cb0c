// Keyboard and piped input through the console: keys as the line editor and the key polls see
// them, the echo, Ctrl+D, slow links, and the bounds on what input may cost.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "console/input/fresh_key_presses.h"
#include "console/input/input_channel.h"
#include "tests/support/bounded_channel.h"
#ifndef _WIN32
#include "tests/support/legacy_locale.h"
#endif
#include "tests/support/test_console.h"

namespace {

using namespace std::string_literals;

constexpr ScriptedDeviceOptions kPipe{.input_is_terminal = false, .input_ends = true};
constexpr int kLater = 10;  // ms: keys typed while the line is being read, not before it

// The keys in one read (a paste, taken a run at a time) and a byte a read (typed).
std::vector<std::vector<std::string>> AsPastedAndTyped(const std::string& keys) {
  std::vector<std::string> bytes;
  for (const char byte : keys) bytes.emplace_back(1, byte);
  return {{keys}, bytes};
}

// Each line's keys, pasted and typed, the line read, and what its echo shows in the first eight
// cells: one cell per character (two for a wide one, none for a mark), control characters as
// their pictures, invalid bytes as U+FFFD.
TEST(LineEditor, KeysGiveTheLineAndTheEchoShowsExactlyIt) {
  struct Case {
    std::string keys, line, shown;
  };
  const Case cases[] = {
      {"diary\r", "diary", "diary   "},
      {"diary\nmore\r", "diary", "diary   "},
      {"nd\177\177\177diary\r", "diary", "diary   "},  // Backspace, also on an empty line
      {"ab\010\r", "a", "a       "},                   // Ctrl+H
      {"caf\xc3\xa9\177e\r", "cafe", "cafe    "},      // a two-byte character goes whole
      {"5\xe2\x82\xac\177\r", "5", "5       "},        // three bytes
      {"x\xf0\x9f\x98\x80\177\r", "x", "x       "},    // four bytes
      {"a\xff\xe2\x82\x80\x80\xe2\x82\177\177\177\177\r", "a", "a       "},  // invalid, long, cut
      {"ab\xc3\xa9\025xy\r", "xy", "xy      "},                              // Ctrl+U
      {"p🎉x✅y\r", "p🎉x✅y", "p🎉x✅y "},                                        // emoji take two cells
      {"cafe\xcc\x81\177e\xcc\x81\r", "cafe\xcc\x81",
       "cafe\xcc\x81    "},                                  // a mark goes with its letter
      {"a\xd7\xa9\xd6\xb8\xd7\x81\177\r", "a", "a       "},  // Hebrew points
      // Backspace erases a grapheme cluster: an emoji sequence joined by ZWJ, an emoji with its
      // skin tone, a flag (a pair of regional indicators, counted from the first of a run), a
      // Thai spacing vowel with its consonant, a Hangul syllable of jamo, a number sign with its
      // digit; keycaps, VS16 emoji and tag flags, which were one glyph already.
      {"ok👨\u200d👩\u200d👧\177👍🏽\177\r", "ok", "ok      "},
      {"🇫🇷\177🇩🇪🇫🇷🇩\177\r", "🇩🇪🇫🇷", "🇩🇪🇫🇷    "},
      {"กำ\177\u1100\u1100\u1161\u11a8\177\u0600\u0661\177x\r", "x", "x       "},
      {"1\ufe0f\u20e3❤\ufe0f🏴\U000e0067\U000e0062\U000e0073\U000e0063\U000e0074\U000e007f"
       "\177\177\r",
       "1\ufe0f\u20e3", "1\ufe0f\u20e3       "},
      // A joiner after a letter joins no emoji; what takes no cells goes with the glyph it is
      // drawn on, even a control's picture or a character that would not join it.
      {"a\u200d👧\177\r", "a\u200d", "a\u200d       "},
      {"x\t\xcc\x81\177a\u1161\177y\u200b\177\r", "x", "x       "},
      {"\xd9\x83\xd9\x8e\xe0\xa4\x95\xe0\xa5\x8d\r", "\xd9\x83\xd9\x8e\xe0\xa4\x95\xe0\xa5\x8d",
       "\xd9\x83\xd9\x8e\xe0\xa4\x95\xe0\xa5\x8d      "},  // Arabic fatha, Devanagari virama
      {"a\xe2\x80\x8f"
       "b\177\r",
       "a\xe2\x80\x8f", "a\uFFFD      "},                            // RLM takes a cell, as U+FFFD
      {"a\x1b[Db\x1b[1;5C\x1b[15~c\x1b[200~\r", "abc", "abc     "},  // CSI keys
      {"a\x1bOPb\x1bO1;2Q\x1b[[A\r", "ab", "ab      "},              // SS3 keys, Linux console F1
      {"a\x1bxb\x1b\x1b[A\x1b\r", "ab", "ab      "},  // Alt+x, Escape before a key, a lone Escape
      {"a\x1b[\x1b[Ab\x1bO\x1bOPc\r", "abc", "abc     "},  // Alt+[ or Alt+O, then a special key
      {"a\001\013\037b\r", "ab", "ab      "},              // other control bytes
      {"a\tb\t\177\r", "a\tb", "a␉b     "},                // Tab is text
      {"\x1bOq\x1bOp\x1bOn\x1bOM", "10.", "10.     "},  // the keypad in application mode, its Enter
      {"a\x1b[M 1!b\x1b[<0;12;5Mc\r", "abc", "abc     "},  // mouse reports, X10 and SGR
      {"a\x1b]11;rgb:1/2/3\x07"
       "b\x1b]0;9\x1b\\c\r",
       "abc", "abc     "},  // a terminal's replies
      {"a\x1bP>|Konsole 23.08.5\x1b\\b\x1b_Gi=31;OK\x1b\\c\x1bP1$r0m\x07"
       "d\x1bXx\x1b\\\x1b^y\x07\r",
       "abcd", "abcd    "},  // replies as DCS, APC, SOS and PM strings, ended by ST or BEL
      {"a\xff\xc3(\xe6\x97\xa5\r", "a\xff\xc3(\xe6\x97\xa5", "a\uFFFD\uFFFD(日  "},  // bytes kept
      {"ab\xe2\x82\tc\xe6\x97\r", "ab\xe2\x82\tc\xe6\x97", "ab\uFFFD␉c\uFFFD  "},    // cut short
      // The first and last code points of each length, then the invalid ones just past them:
      // overlong, surrogates, beyond U+10FFFF.
      {"\xc2\x80\xdf\xbf\xe0\xa0\x80\xef\xbf\xbf\xf0\x90\x80\x80\xf4\x8f\xbf\xbf\r",
       "\xc2\x80\xdf\xbf\xe0\xa0\x80\xef\xbf\xbf\xf0\x90\x80\x80\xf4\x8f\xbf\xbf",
       "\uFFFD\u07FF\u0800\uFFFF\U00010000\U0010FFFF  "},
      {"\xc1\xbf\xe0\x9f\xbf\xed\xa0\x80\xed\xbf\xbf\xf0\x8f\xbf\xbf\xf4\x90\x80\x80\r",
       "\xc1\xbf\xe0\x9f\xbf\xed\xa0\x80\xed\xbf\xbf\xf0\x8f\xbf\xbf\xf4\x90\x80\x80",
       "\uFFFD\uFFFD\uFFFD\uFFFD\uFFFD\uFFFD  "},
  };
  for (const auto& [keys, line, shown] : cases) {
    for (const std::vector<std::string>& reads : AsPastedAndTyped(keys)) {
      TestConsole test(reads);
      EXPECT_EQ(ReadLine(), line) << testing::PrintToString(keys) << " in " << reads.size();
      EXPECT_EQ(test.Text(0, 0, 8), shown)
          << testing::PrintToString(keys) << " in " << reads.size();
    }
  }
}

#ifndef _WIN32  // the locale's charset is read on POSIX systems only
// Keys typed or pasted in a legacy charset: the line keeps their bytes, the echo shows each
// character in its cells, and Backspace takes a whole character with its marks.
TEST(LineEditor, KeysInALegacyCharsetAreShownAsTheCharactersSaved) {
  struct Case {
    const char* locale;
    std::string keys, line, shown_in_eight_cells;
  };
  const Case cases[] = {
      {"en_US.ISO-8859-1", "k\xf6ln\r", "k\xf6ln", "köln    "},
      {"en_US.ISO-8859-1", "caf\xe9\177e\t\r", "cafe\t", "cafe␉   "},
      {"ru_RU.KOI8-R", "\xf0\xd2\xc9\r", "\xf0\xd2\xc9", "При     "},
      {"th_TH.TIS-620", "\xa1\xd1\xa2\177\r", "\xa1\xd1", "กั       "},  // a mark joins
      {"th_TH.TIS-620", "x\xa1\xd1\177\r", "x", "x       "},
      {"th_TH.TIS-620", "x\xa1\xd3\177\r", "x\xa1", "xก      "},           // a spacing vowel alone
      {"ja_JP.EUC-JP", "\xc6\xfc\xcb\xdc\177\r", "\xc6\xfc", "日      "},  // wide
      {"ja_JP.EUC-JP", "a\x8f\xb0\xa1\177\xff\xc6\r", "a\xff\xc6", "a��     "},
      {"zh_TW.BIG5", "\xa4\x40\xa4\x41\177\xa4\r", "\xa4\x40\xa4", "一�     "},
  };
  for (const auto& [locale, keys, line, shown] : cases) {
    SCOPED_TRACE(locale + (" " + testing::PrintToString(keys)));
    const LegacyLocale legacy(locale);
    if (legacy.charset.IsUtf8()) GTEST_SKIP() << "no " << locale << " (scripts/install-locales)";
    for (const std::vector<std::string>& reads : AsPastedAndTyped(keys)) {
      TestConsole test(reads, {}, legacy.charset);
      EXPECT_EQ(ReadLine(), line) << "in " << reads.size();
      EXPECT_EQ(test.Text(0, 0, 8), shown) << "in " << reads.size();
    }
  }
}
#endif

// Ctrl+D ends the input only on an empty line that is being read; typed ahead, during a poll or
// a pause, it is no key of the line's.
TEST(LineEditor, CtrlDEndsInputOnlyOnAnEmptyLineBeingRead) {
  TestConsole test({"first\r\nsecond\r\n\r"});
  test.device.steps.push_back({"x\004\177\004later\r", kLater});
  for (const char* line : {"first", "second", "", ""}) EXPECT_EQ(ReadLine(), line);
  EXPECT_EQ(ReadLine(), "");  // later reads return at once
  WaitForKey();               // so does the key wait

  // Typed at the colour menu, before and after the digit pressed with Alt (which types nothing):
  // the line read next starts empty, and they must not end it.
  TestConsole ahead({"\004",
                     "\x1b"
                     "3\004"});
  while (!IsKeyPressed('3')) {
  }
  ahead.device.steps.push_back({"x\r", kLater});
  EXPECT_EQ(ReadLine(), "x");

  TestConsole paused({"\004"});  // typed during a pause, before the line is asked for
  Pause(2000);
  paused.device.steps.push_back({"y\r", kLater});
  EXPECT_EQ(ReadLine(), "y");
  paused.device.steps.push_back({"\004", kLater});
  EXPECT_EQ(ReadLine(), "");
  EXPECT_EQ(ReadLine(), "");
}

// Each input is typed while the keys N and 1 to 9 are polled, after a line read where a row says
// so; the line read next takes it all.
TEST(KeyPoll, AKeyReadsAsPressedOnlyWhenTypedAsThatKey) {
  struct Case {
    std::string keys;
    std::string pressed;
    std::string line;
    bool after_a_line = false;
  };
  const Case cases[] = {
      {"\x1b[3~\x1b[15~\x1b[1;5C\x1b[5~\x1b[6~\x1b[2;3~", "", ""},  // editing and function keys
      {"\x1bOq\x1bOy\x1bO5P\x1b[[A", "", "19"},  // keypad digits type but do not press
      {"\x1b[M!1n\x1b[<0;12;5M\x1b[M!4n\x1b[32;8;9M", "", ""},            // mouse reports
      {"\x1b[200~n4\x1b[201~", "N4", "n4"},                               // pasted text is typed
      {"a run of text: 4, n and 2", "N24", "a run of text: 4, n and 2"},  // each of its keys too
      {"\x1b]4;1;rgb:0/0/0\x07\x1b]11;9\x1b\\\x1b[?1;2c\x1b[12;40R", "", ""},  // replies
      {"\x1bP>|Konsole 23.08.5\x1b\\\x1bP1+r6b6e=1\x1b\\\x1b_Gi=31;OK\x1b\\\x1bXn\x07\x1b^9\x07",
       "", ""},  // replies in other strings
      {"\x1b"
       "4\x1bn",
       "N4", ""},  // Alt+4 and Alt+n press their keys but type nothing
      {"N7", "N7", "N7"},
      {"\x04N", "N", "N", true},  // Ctrl+D, the line before it over, ends nothing
  };
  for (const Case& c : cases) {
    // Each round but the first waits for the next chunk: the keys, then the Enter.
    TestConsole test(c.after_a_line ? std::vector<std::string>{"name\r", c.keys}
                                    : std::vector<std::string>{c.keys});
    if (c.after_a_line) {
      EXPECT_EQ(ReadLine(), "name");
    }
    test.device.steps.push_back({"\r", kLater});
    std::string pressed;
    for (int round = 0; round < 3; ++round) {
      for (const char key : std::string("N123456789")) {
        if (IsKeyPressed(key)) pressed += key;
      }
    }
    EXPECT_EQ(pressed, c.pressed) << testing::PrintToString(c.keys);
    EXPECT_EQ(ReadLine(), c.line) << testing::PrintToString(c.keys);
  }
}

// Keys as a slow link or a person's pace brings them, each step its gap in ms after the one
// before (0 after a line's end: it came while the program did not read); the lines read. Then
// the farewell's key wait after its pause, and in another run the error box at once, must each
// wait for the Space typed a second later: no byte of a key already taken may end either.
TEST(LineEditor, SlowLinksKeepKeysWholeAndKeysTypedAfterEscapeAsTyped) {
  const std::pair<std::vector<ScriptStep>, std::vector<std::string>> runs[] = {
      // A sequence begun may go on slowly; Escape then a byte within 50 ms begins one, or is Alt.
      {{{"a\x1b"}, {"[", 50}, {"B", 500}, {"\x1bO", 10}, {"P\x1b", 230}, {"z", 50}, {"b\r", 10}},
       {"ab"}},
      // A string (an APC) too, until a gap of over 500 ms cuts one (a DCS) short.
      {{{"b\x1b"}, {"_G", 50}, {"i=31;OK\x1b", 500}, {"\\c\x1bPx", 500}, {"d\r", 501}}, {"bcd"}},
      // Escape (a vi habit), then keys typed at a person's pace: O, [, ], P, _, X and ^ too.
      {{{"\x1b"}, {"Once ", 51}, {"\x1b", 10}, {"[note] ", 100}, {"\x1b", 10}, {"]x\r", 500}},
       {"Once [note] ]x"}},
      {{{"\x1b"}, {"P\x1b", 51}, {"_\x1b", 60}, {"X\x1b", 51}, {"^\r", 51}}, {"P_X^"}},
      // Enter as CR LF or CR NUL, its second byte in the CR's read or one up to 50 ms later; an
      // LF later than that is an Enter of its own.
      {{{"a\r\nb\r\0c\r"s}, {"\n", 50}, {"d\r", 10}, {"\0"s, 20}, {"e\r", 10}, {"\n", 51}},
       {"a", "b", "c", "d", "e", ""}},
      {{{"text\r"}, {"\n"}}, {"text"}},
      {{{"text\r"}, {"\0"s}}, {"text"}},
  };
  for (const auto& [steps, lines] : runs) {
    for (const bool error_box : {false, true}) {
      TestConsole test;
      int64_t time = error_box ? 1000 : 4000;
      for (const ScriptStep& step : steps) {
        test.device.steps.push_back(step);
        time += step.delay_ms;
      }
      for (const std::string& line : lines) EXPECT_EQ(ReadLine(), line);
      test.device.steps.push_back({" ", 1000});
      if (error_box) {
        EndingOf([] { ReportFatal("Failed to create file."); });
      } else {
        Pause(3000);
        WaitForKey();
      }
      EXPECT_TRUE(test.device.steps.empty()) << testing::PrintToString(steps[0].bytes);
      EXPECT_EQ(test.device.now, time) << testing::PrintToString(steps[0].bytes);
    }
  }
  TestConsole test({"\x1b"});  // a lone Escape is a key of its own once 50 ms pass
  WaitForKey();
  EXPECT_EQ(test.device.now, kAltWaitMilliseconds);
}

// A resize, or a resume after a stop, is no key: it must not cut a key's sequence short.
TEST(LineEditor, ScreenEventBetweenTheBytesOfASequenceKeepsItWhole) {
  TestConsole test({"\x1b["});
  for (const char* bytes : {"A", "x\x1b[", "B", "b\r"}) {
    // The event takes the whole wait; the rest of the key comes with it.
    test.device.steps.push_back({"", kSequenceWaitMilliseconds, WindowSize{60, 20}});
    test.device.steps.push_back({bytes, 0});
  }
  WaitForKey();  // the up arrow, whole
  EXPECT_EQ(ReadLine(), "xb");
}

// Each wait for a key, a polling loop's too, blocks until input comes: with nothing typed it
// never wakes. A poll loop waits once per round of its keys, so it neither spins nor delays any
// of them. Only a lone Escape waits for the rest of a key with a deadline; a poll needs no such
// wait, since a key's bytes are told apart by when they came.
TEST(InputWait, IdleWaitsBlockUntilInputComesWithNoDeadline) {
  enum class Wait { kForN, kForDigit, kLine, kKey };
  struct Row {
    Wait wait;
    std::vector<ScriptStep> steps;
    int timed_waits;
  };
  const Row rows[] = {
      {.wait = Wait::kForN, .steps = {{"x", 700}, {"\x1b", 1000}, {"n", 1000}}, .timed_waits = 0},
      {.wait = Wait::kForDigit,
       .steps = {{"x", 700}, {"\x1b", 1000}, {"3", 1000}},
       .timed_waits = 0},
      {.wait = Wait::kLine, .steps = {{"x", 700}, {"y", 1000}, {"\r", 1000}}, .timed_waits = 0},
      {.wait = Wait::kLine, .steps = {{"x", 700}, {"\x1b", 1000}, {"\r", 1000}}, .timed_waits = 1},
      {.wait = Wait::kKey, .steps = {{"", 700, WindowSize{80, 24}}, {"q", 2000}}, .timed_waits = 0},
  };
  for (const auto& [wait, steps, timed_waits] : rows) {
    SCOPED_TRACE(testing::PrintToString(steps.back().bytes));
    TestConsole test;
    test.device.steps.assign(steps.begin(), steps.end());
    switch (wait) {
      case Wait::kForN:
        while (!IsKeyPressed(kKeyN)) {
        }
        break;
      case Wait::kForDigit:
        for (bool pressed = false; !pressed;) {
          for (int digit = 1; digit <= 9 && !pressed; ++digit) pressed = IsKeyPressed('0' + digit);
        }
        break;
      case Wait::kLine:
        ReadLine();
        break;
      case Wait::kKey:
        WaitForKey();
        break;
    }
    EXPECT_TRUE(test.device.steps.empty());
    EXPECT_EQ(test.device.now, 2700);
    EXPECT_EQ(test.device.timed_waits, timed_waits);
  }
  // A loop begun after a line read asks about each of its keys before it waits: a digit typed
  // with the line's Enter is found without waiting for more input, which never comes here.
  TestConsole typed_ahead({"n", "ame\r5"});
  while (!IsKeyPressed(kKeyN)) {
  }
  EXPECT_EQ(ReadLine(), "name");
  for (bool pressed = false; !pressed;) {
    EXPECT_FALSE(IsKeyPressed(kKeyN));  // polled last before the line, first now
    pressed = IsKeyPressed('5');
  }
}

// Windows key states, query by query within one wait: "P" where the poll reads as pressed. A
// press since the previous query counts only once the wait has asked about that key.
TEST(KeyPoll, AWaitsFirstQueryOfAKeyCountsItOnlyWhenDownNow) {
  constexpr uint16_t kDown = FreshKeyPresses::kDownNow;
  constexpr uint16_t kSince = 0x0001;
  const std::pair<std::vector<uint16_t>, std::string> queries[] = {
      {{kSince, 0}, "--"},  // pressed before the wait began (typed into the name, say)
      {{kSince, kSince}, "-P"},
      {{kDown | kSince, 0, kDown}, "P-P"},
      {{0, kSince, 0}, "-P-"},
  };
  for (const auto& [states, pressed] : queries) {
    FreshKeyPresses presses;
    for (const bool other_wait_first : {false, true}) {
      if (other_wait_first) {  // the same after another wait, and for another key asked before
        presses.IsPressed('3', kSince);
        presses.EndWait();
        presses.IsPressed('1', kSince);
      }
      std::string got;
      for (const uint16_t state : states) got += presses.IsPressed('2', state) ? 'P' : '-';
      EXPECT_EQ(got, pressed) << testing::PrintToString(states);
      presses.EndWait();
    }
  }
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

// Input that never brings the polled key, or a line that never ends, stops the run with one
// line once it passes the bound, instead of taking all memory; a line within it is read whole.
// A line's echo on a terminal stops at the byte that takes it past the bound, pasted or typed.
TEST(InputBounds, EndlessInputEndsTheRunWithStatusOne) {
  constexpr size_t kBound = 64;
  const std::string chunk(16, 'y');
  struct Run {
    int polled;
    std::string message{};  // empty: the line is read whole
    int chunks;
    size_t shown;  // bytes echoed
  };
  const Run runs[] = {
      // Polls 5, which never comes.
      {.polled = kKeyDigit1 + 4,
       .message = InputChannel::TooMuchInputMessage(),
       .chunks = 5,
       .shown = 0},
      // Polls N, then reads an endless line.
      {.polled = kKeyN,
       .message = InputChannel::LineTooLongMessage(),
       .chunks = 5,
       .shown = kBound + 1},
      {.polled = kKeyN, .chunks = 3, .shown = 1 + 3 * chunk.size()},
  };
  for (const ScriptedDeviceOptions options : {ScriptedDeviceOptions{}, kPipe}) {
    for (const Run& run : runs) {
      BoundedChannel bounded({"n"}, options, kBound);
      for (int step = 0; step < run.chunks; ++step) bounded.device.steps.push_back({chunk, 1});
      bounded.device.steps.push_back({"\r\n", 1});
      std::string line;
      const std::optional<ProcessEnded> ended = EndingOf([&] {
        while (!bounded.channel.PollKey(run.polled)) {
          ASSERT_LE(bounded.channel.PendingMemory(), kBound);
        }
        line = bounded.channel.ReadLine(bounded);
      });
      EXPECT_EQ(bounded.shown, options.input_is_terminal ? run.shown : 0);
      if (run.message.empty()) {
        EXPECT_FALSE(ended.has_value());
        EXPECT_EQ(line.size(), 1 + 3 * chunk.size());
        EXPECT_EQ(line.find_first_not_of('y', 1), std::string::npos);
        continue;
      }
      ASSERT_TRUE(ended.has_value());
      EXPECT_EQ(ended->status, 1);
      EXPECT_EQ(ended->error_message, run.message);
    }
  }
}

TEST(PipedInput, LinesKeepTheirBytesAndLoseOnlyTheLineEndWithoutEcho) {
  TestConsole test({"ndiary\r", "\n4he\177llo\x1b[A\n", "tail\rx"}, kPipe);
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
