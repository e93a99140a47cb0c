// Fuzzes the keyboard input path: key polls, line reads, key waits and pauses on a screen console
// over a scripted device, with input split into chunks at any point, delays in simulated time and
// window resizes. Whatever is typed, a line read from a terminal never holds a control byte but
// Tab. In structured runs (keys a user can type, some typed ahead while a key is polled) a poll
// reads as pressed just when its own key arrives, never for a byte inside a sequence, a Ctrl+D
// typed ahead never ends the input, and each line read is exactly the line typed. (The bound on
// pending input is InputBounds' table in console_input_test.cpp.)
#include <fuzzer/FuzzedDataProvider.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <iterator>
#include <stdexcept>
#include <string>
#include <vector>

#include "console/console.h"
#include "console/grapheme.h"
#include "console/utf8.h"
#include "tests/support/test_console.h"

namespace {

// Every loop below is bounded, should a poll go on missing its key while the script lasts.
constexpr int kMaxSteps = 48;
constexpr int kMaxOperations = 32;
constexpr int kMaxPolls = 64;
constexpr int kMaxLines = 4;
constexpr int kMaxTokensPerLine = 24;

// Bytes as C escapes, to show a failing line readably.
std::string Escaped(const std::string& bytes) {
  std::string out;
  for (const char c : bytes) {
    const auto byte = static_cast<unsigned char>(c);
    if (byte >= 0x20 && byte < 0x7F && byte != '\\') {
      out += c;
    } else {
      char hex[8];
      std::snprintf(hex, sizeof hex, "\\x%02x", byte);
      out += hex;
    }
  }
  return out;
}

// The input that led here is saved by libFuzzer; this says what went wrong with it.
[[noreturn]] void Fail(const char* why, const std::string& line) {
  std::fprintf(stderr, "%s: \"%s\"\n", why, Escaped(line).c_str());
  __builtin_trap();
}

bool HoldsControlByte(const std::string& line) {
  for (const char c : line) {
    const auto byte = static_cast<unsigned char>(c);
    if ((byte < 0x20 && byte != '\t') || byte == 0x7F) return true;
  }
  return false;
}

WindowSize PickSize(FuzzedDataProvider& input) {
  const int columns = input.ConsumeIntegralInRange(1, 250);
  return {columns, input.ConsumeIntegralInRange(1, 80)};
}

int PickKey(FuzzedDataProvider& input) {
  const int pick = input.ConsumeIntegralInRange(0, 9);
  return pick == 0 ? kKeyN : kKeyDigit1 + pick - 1;
}

// The program's own loops, cut short where it would wait for ever.
void PollForN(Console& console) {
  for (int poll = 0; poll < kMaxPolls && !console.IsKeyPressed(kKeyN); ++poll) {
  }
}

void PollForDigit(Console& console) {
  for (int round = 0; round < kMaxPolls; ++round) {
    for (int digit = 1; digit <= 9; ++digit) {
      if (console.IsKeyPressed(kKeyDigit1 + digit - 1)) return;
    }
  }
}

// Any bytes at all, any operations in any order.
void RunFree(FuzzedDataProvider& input) {
  ScriptedDeviceOptions options;
  options.size = PickSize(input);
  options.input_is_terminal = input.ConsumeBool();
  options.input_ends = input.ConsumeBool();
  TestConsole test({}, options);
  const int steps = input.ConsumeIntegralInRange(0, kMaxSteps);
  for (int step = 0; step < steps; ++step) {
    if (input.ConsumeIntegralInRange(0, 7) == 0) {
      test.device.steps.push_back({"", input.ConsumeIntegralInRange(0, 120), PickSize(input)});
    } else {
      std::string bytes = input.ConsumeRandomLengthString(48);
      test.device.steps.push_back({std::move(bytes), input.ConsumeIntegralInRange(0, 120)});
    }
  }

  Console& console = test.console;
  const int operations = input.ConsumeIntegralInRange(1, kMaxOperations);
  for (int operation = 0; operation < operations; ++operation) {
    switch (input.ConsumeIntegralInRange(0, 9)) {
      case 0:
        PollForN(console);
        break;
      case 1:
        PollForDigit(console);
        break;
      case 2:
        console.IsKeyPressed(PickKey(input));
        break;
      case 3:
      case 4: {
        const std::string line = console.ReadLine();
        if (options.input_is_terminal && HoldsControlByte(line)) {
          Fail("a control byte in a line read from a terminal", line);
        }
        break;
      }
      case 5:
        console.WaitForKey();
        break;
      case 6:
        console.Pause(input.ConsumeIntegralInRange(0, 5000));
        break;
      case 7: {
        const int column = input.ConsumeIntegralInRange(0, 260);
        console.MoveCursor(static_cast<int16_t>(column),
                           static_cast<int16_t>(input.ConsumeIntegralInRange(0, 90)));
        break;
      }
      case 8:
        console.SetTextColor(input.ConsumeIntegral<uint16_t>());
        console.WriteText(input.ConsumeRandomLengthString(16));
        break;
      case 9:
        if (input.ConsumeIntegralInRange(0, 15) == 0) console.ReportFatal("fuzzed failure");
        console.Clear();
        break;
    }
  }
}

// Keys that send an escape sequence, all dropped whole by the line editor and never a press of
// the digits or letters inside them.
constexpr const char* kSpecialKeys[] = {
    "\x1b[A",
    "\x1b[B",
    "\x1b[C",
    "\x1b[D",
    "\x1b[H",
    "\x1b[F",
    "\x1b[1;5C",
    "\x1b[1;2A",
    "\x1b[3~",
    "\x1b[2~",
    "\x1b[5~",
    "\x1b[6~",
    "\x1b[15;2~",
    "\x1b[24~",
    "\x1b[200~",
    "\x1bOP",
    "\x1bOQ",
    "\x1bOH",
    "\x1bO2Q",
    "\x1bO1;5R",
    "\x1b[[A",
    "\x1b[[E",
    "\x1b[M 1n",
    "\x1b[M91N",
    "\x1b[<0;12;5M",
    "\x1b[<64;9;1m",
    "\x1b[32;8;9M",
    "\x1b]11;rgb:1/2/3\x07",
    "\x1b]4;1;#123\x1b\\",
    "\x1bP>|Konsole 23.08.5\x1b\\",
    "\x1bP1$r0;1m\x07",
    "\x1b_Gi=31;OK\x1b\\",
    "\x1bXn1\x1b\\",
    "\x1b^9\x07",
    "\x1b[?1;2c",
    "\x1b[12;40R",
};
// The numeric keypad in application mode, and the character each types.
constexpr std::pair<const char*, char> kKeypadKeys[] = {
    {"\x1bOp", '0'}, {"\x1bOq", '1'}, {"\x1bOu", '5'}, {"\x1bOy", '9'},
    {"\x1bOk", '+'}, {"\x1bOn", '.'}, {"\x1bOX", '='},
};
// Control bytes the editor drops: all but Ctrl+D, Backspace, Tab, LF, CR, Ctrl+U and Escape.
constexpr unsigned char kDroppedControls[] = {0x00, 0x01, 0x02, 0x03, 0x05, 0x06, 0x07, 0x0B, 0x0C,
                                              0x0E, 0x0F, 0x10, 0x11, 0x12, 0x13, 0x14, 0x16, 0x17,
                                              0x18, 0x19, 0x1A, 0x1C, 0x1D, 0x1E, 0x1F};

char32_t PickCodepoint(FuzzedDataProvider& input) {
  switch (input.ConsumeIntegralInRange(0, 2)) {
    case 0:
      return input.ConsumeIntegralInRange<char32_t>(0x80, 0x7FF);
    case 1: {
      const char32_t c = input.ConsumeIntegralInRange<char32_t>(0x800, 0xFFFF);
      return c >= 0xD800 && c <= 0xDFFF ? c - 0x800 : c;  // no surrogates
    }
    default:
      return input.ConsumeIntegralInRange<char32_t>(0x10000, 0x10FFFF);
  }
}

// Characters the grapheme cluster rules treat each in their own way: regional indicators, emoji,
// a skin tone, ZWJ, VS16, a keycap, a tag, an accent, a spacing vowel, a prepended number sign,
// Hangul jamo and syllables, an invisible format character and a C1 control.
constexpr char32_t kClusterParts[] = {
    0x1F1EB, 0x1F1F7, 0x1F1E9, 0x1F468, 0x1F467, 0x2764, 0x1F3FD, 0x200D, 0xFE0F, 0x20E3, 0xE0067,
    0x0301,  0x0E33,  0x0600,  0x1100,  0x1161,  0x11A8, 0xAC00,  0xAC01, 0x200B, 0x0085,
};

// Where the last of the clusters that Backspace erases starts, found going forwards through the
// whole line as Unicode's rules for extended grapheme clusters read, with the program's one
// change: a character that takes no cells never starts a cluster but the line's first.
size_t LastClusterStart(const std::u32string& line) {
  using enum GraphemeBreak;
  bool pictographic = false;        // the line so far ends in Extended_Pictographic Extend*
  bool joiner_after_emoji = false;  // ... in Extended_Pictographic Extend* ZWJ
  size_t regional_indicators = 0;   // ... in this many regional indicators
  const auto breaks = [&](GraphemeBreak before, GraphemeBreak after, char32_t codepoint) {
    const auto control = [](GraphemeBreak p) { return p == kControl || p == kCR || p == kLF; };
    if (CellWidth(VisibleCodepoint(codepoint)) == 0) return false;
    if (before == kCR && after == kLF) return false;
    if (control(before) || control(after)) return true;
    if (before == kL && (after == kL || after == kV || after == kLV || after == kLVT)) return false;
    if ((before == kLV || before == kV) && (after == kV || after == kT)) return false;
    if ((before == kLVT || before == kT) && after == kT) return false;
    if (after == kExtend || after == kZWJ || after == kSpacingMark || before == kPrepend) {
      return false;
    }
    if (after == kExtendedPictographic && joiner_after_emoji) return false;
    return !(after == kRegionalIndicator && regional_indicators % 2 == 1);
  };
  size_t start = 0;
  GraphemeBreak before = kOther;
  for (size_t i = 0; i < line.size(); ++i) {
    const GraphemeBreak after = GraphemeBreakOf(line[i]);
    if (i > 0 && breaks(before, after, line[i])) start = i;
    joiner_after_emoji = after == kZWJ && pictographic;
    pictographic = after == kExtendedPictographic || (after == kExtend && pictographic);
    regional_indicators = after == kRegionalIndicator ? regional_indicators + 1 : 0;
    before = after;
  }
  return start;
}

// What a user types: bytes, how far apart each may come from the byte before (a key's bytes come
// within its wait, the one after its Escape at once; a lone Escape, and a lone CR before an LF or
// NUL, are followed by a pause), and the lines the keys should give, from a model that knows
// nothing of the editor's byte handling.
struct Typing {
  struct Gap {
    int min_ms = 0;
    int max_ms = 1000;
    bool split = false;  // the byte must come in a read of its own
  };
  std::string bytes;
  std::vector<Gap> gaps;  // before each byte
  std::vector<std::string> lines;

  // Appends a key; `within` is how far apart its own bytes may come.
  void Key(std::string_view key, int within = kSequenceWaitMilliseconds) {
    if (last_key_ == "\r" && !key.empty() && (key[0] == '\n' || key[0] == '\0')) {
      // Otherwise it would be the rest of that Enter.
      pause_ =
          Gap{kAltWaitMilliseconds + 1, std::max(pause_.max_ms, kAltWaitMilliseconds + 1), true};
    }
    for (size_t i = 0; i < key.size(); ++i) {
      bytes += key[i];
      const bool after_escape = i == 1 && key[0] == '\x1b';
      gaps.push_back(i > 0 ? Gap{0, after_escape ? std::min(within, kAltWaitMilliseconds) : within}
                           : pause_);
    }
    pause_ = Gap{};
    last_key_ = key;
  }
  // The next key comes in a read of its own, this long after the one before.
  void Pause(int min_ms, int max_ms) { pause_ = Gap{min_ms, max_ms, true}; }

 private:
  Gap pause_;
  std::string last_key_;
};

// Whether typing `c` presses the polled key.
bool Presses(char c, int key) {
  return key == kKeyN ? (c == 'n' || c == 'N') : c == key;
}

// One token a user types into a line, with the characters it adds to `line`, or takes from it.
// Keys that would press `polled` are left out (polled = 0 leaves none out), and Backspace, Ctrl+U
// and Ctrl+D on a line with text only where `editing` allows.
void TypeToken(FuzzedDataProvider& input, Typing& typing, std::u32string& line, int polled,
               bool editing) {
  const int token = input.ConsumeIntegralInRange(0, 12);
  switch (token) {
    case 0:
    case 1:
    case 2: {
      const int count = input.ConsumeIntegralInRange(1, 4);
      for (int i = 0; i < count; ++i) {
        const char c = input.ConsumeIntegralInRange<char>(0x20, 0x7E);
        if (Presses(c, polled)) continue;
        typing.Key(std::string(1, c));
        line += static_cast<char32_t>(c);
      }
      break;
    }
    case 3:
    case 12: {
      // Any character, or a few of those that make up clusters (flags, emoji sequences...).
      const int count = token == 3 ? 1 : input.ConsumeIntegralInRange(1, 6);
      for (int i = 0; i < count; ++i) {
        const char32_t codepoint =
            token == 3 ? PickCodepoint(input) : input.PickValueInArray(kClusterParts);
        std::string character;
        AppendUtf8(character, codepoint);
        typing.Key(character);
        line += codepoint;
      }
      break;
    }
    case 4: {
      const size_t pick = input.ConsumeIntegralInRange<size_t>(0, std::size(kSpecialKeys));
      if (pick < std::size(kSpecialKeys)) {
        typing.Key(kSpecialKeys[pick]);
        break;
      }
      // Alt with a key: both bytes come together.
      const char key = input.ConsumeIntegralInRange<char>(0x20, 0x7E);
      // Alt with ], P, _, X or ^ begins a string, which takes whatever follows it in time.
      if (Presses(key, polled) || std::string_view("]P_X^").find(key) != std::string_view::npos) {
        break;
      }
      typing.Key(std::string("\x1b") + key, kAltWaitMilliseconds);
      // Alt+[ and Alt+O begin longer sequences, which text after them would end; a special key
      // after them must still be dropped whole.
      if (key == '[' || key == 'O') typing.Key(input.PickValueInArray(kSpecialKeys));
      break;
    }
    case 5: {
      const auto& [key, character] = input.PickValueInArray(kKeypadKeys);
      typing.Key(key);
      line += static_cast<char32_t>(character);
      break;
    }
    case 6:
      if (!editing) break;
      typing.Key(input.ConsumeBool() ? "\x7f" : "\b");
      line.resize(LastClusterStart(line));
      break;
    case 7:
      if (!editing) break;
      typing.Key("\x15");
      line.clear();
      break;
    case 8:
      typing.Key(std::string(1, static_cast<char>(input.PickValueInArray(kDroppedControls))));
      break;
    case 9: {
      // Escape on its own, as a person types it: a key of its own, and any printable key after
      // it, O, [ and ] too, is typed as it is.
      typing.Key("\x1b");
      typing.Pause(kAltWaitMilliseconds + 1, 1000);
      const char key = input.ConsumeIntegralInRange<char>(0x20, 0x7E);
      if (input.ConsumeBool() || Presses(key, polled)) break;
      typing.Key(std::string(1, key));
      line += static_cast<char32_t>(key);
      break;
    }
    case 10:
      typing.Key("\t");
      line += U'\t';
      break;
    case 11:
      // Ctrl+D: typed ahead it never ends the input; on a line being read, only on an empty one.
      if (!editing || !line.empty()) typing.Key("\x04");
      break;
  }
}

// Typed ahead while the program polls for a key, ending with that key; then lines typed while
// each is read. The first line starts with what was typed ahead.
struct Session {
  int polled;
  bool alt_press;  // the polled key pressed with Alt, which types nothing
  size_t ahead_bytes;
  Typing typing;
};

Session PickSession(FuzzedDataProvider& input) {
  Session session;
  session.polled = PickKey(input);
  Typing& typing = session.typing;
  std::u32string typed;
  const int ahead = input.ConsumeIntegralInRange(0, kMaxTokensPerLine);
  for (int token = 0; token < ahead; ++token) {
    TypeToken(input, typing, typed, session.polled, false);
  }
  session.alt_press = input.ConsumeBool();
  const char press = session.polled == kKeyN ? (input.ConsumeBool() ? 'n' : 'N')
                                             : static_cast<char>(session.polled);
  typing.Key(session.alt_press ? std::string("\x1b") + press : std::string(1, press),
             kAltWaitMilliseconds);
  if (!session.alt_press) typed += static_cast<char32_t>(press);
  session.ahead_bytes = typing.bytes.size();
  typing.Pause(1, 1000);  // the line is asked for before the next key

  const int lines = input.ConsumeIntegralInRange(1, kMaxLines);
  for (int line = 0; line < lines; ++line) {
    if (line > 0) typed.clear();
    const int tokens = input.ConsumeIntegralInRange(0, kMaxTokensPerLine);
    for (int token = 0; token < tokens; ++token) {
      TypeToken(input, typing, typed, 0, true);
    }
    // Enter: CR, LF (Ctrl+J), or CR LF or CR NUL sent together.
    static constexpr std::string_view kEnters[] = {"\r", "\n", "\r\n", {"\r\0", 2}};
    const std::string_view enter = input.PickValueInArray(kEnters);
    typing.Key(enter, kAltWaitMilliseconds);
    std::string expected;
    for (const char32_t character : typed) AppendUtf8(expected, character);
    typing.lines.push_back(expected);
  }
  return session;
}

// Typed keys, as chunks split anywhere, with resizes on the way: the poll must read as pressed
// just when its key arrives, never for a byte inside a sequence nor for a Ctrl+D typed ahead,
// and then the program reads exactly the lines typed.
void RunStructured(FuzzedDataProvider& input) {
  ScriptedDeviceOptions options;
  options.size = PickSize(input);
  options.input_ends = input.ConsumeBool();
  const Session session = PickSession(input);
  const Typing& typing = session.typing;
  TestConsole test({}, options);
  size_t steps_after_ahead = 0;
  for (size_t at = 0; at < typing.bytes.size();) {
    size_t end = std::min(typing.bytes.size(), at + input.ConsumeIntegralInRange<size_t>(1, 12));
    for (size_t i = at + 1; i < end; ++i) {
      if (typing.gaps[i].split || i == session.ahead_bytes) end = i;
    }
    const Typing::Gap gap = typing.gaps[at];
    int delay = input.ConsumeIntegralInRange(gap.min_ms, gap.max_ms);
    if (input.ConsumeIntegralInRange(0, 7) == 0) {  // a resize takes part of the wait
      const int resize_delay = input.ConsumeIntegralInRange(0, delay);
      test.device.steps.push_back({"", resize_delay, PickSize(input)});
      delay -= resize_delay;
    }
    test.device.steps.push_back({typing.bytes.substr(at, end - at), delay});
    at = end;
    if (at == session.ahead_bytes) steps_after_ahead = test.device.steps.size();
  }
  const size_t steps_total = test.device.steps.size();

  Console& console = test.console;
  // A step may come up to two poll waits late.
  for (size_t poll = 0; !console.IsKeyPressed(session.polled); ++poll) {
    if (poll > 3 * steps_total + 4) Fail("the poll missed its key; keys", typing.bytes);
  }
  if (steps_total - test.device.steps.size() != steps_after_ahead) {
    Fail("the poll read as pressed before its key came; keys", typing.bytes);
  }
  for (const std::string& expected : typing.lines) {
    console.MoveCursor(static_cast<int16_t>(input.ConsumeIntegralInRange(0, 130)),
                       static_cast<int16_t>(input.ConsumeIntegralInRange(0, 40)));
    const std::string line = console.ReadLine();
    if (line != expected) {
      std::fprintf(stderr, "keys: \"%s\"\nexpected: \"%s\"\n", Escaped(typing.bytes).c_str(),
                   Escaped(expected).c_str());
      Fail("read", line);
    }
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  FuzzedDataProvider input(data, size);
  if (input.ConsumeBool()) {
    // Every typed line ends with Enter, so here even an exception is a fault: it escapes, and
    // the fuzzer reports it as a crash.
    RunStructured(input);
    return 0;
  }
  try {
    RunFree(input);
  } catch (const ProcessEnded&) {
    // Input that ran out, or a fatal error: the program ends, as it should.
  } catch (const std::runtime_error&) {
    // The scripted device has no more keys while the program waits for one: a real terminal
    // would wait for ever here, which is not a fault.
  }
  return 0;
}
