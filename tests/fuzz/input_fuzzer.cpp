// Fuzzes the keyboard input path: key polls, line reads, key waits and pauses on a screen console
// over a scripted device, with input split into chunks at any point, delays in simulated time and
// window resizes. Two things must hold whatever is typed: a line read from a terminal never holds
// a control byte, and in structured runs (tokens a user can type) it is exactly the line typed,
// so the bytes of special keys never leak into text.
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
#include "console/utf8.h"
#include "tests/support/test_console.h"

namespace {

// Every loop below is bounded, as the scripted time would let a poll loop run for ever.
constexpr int kMaxSteps = 48;
constexpr int kMaxOperations = 32;
constexpr int kMaxPolls = 64;
constexpr int kMaxLines = 4;
constexpr int kMaxTokensPerLine = 24;
constexpr int kLoneEscapeMs = InputChannel::kLoneEscapeMilliseconds;

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
    if (byte < 0x20 || byte == 0x7F) return true;
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

// Keys that send an escape sequence, all dropped whole by the line editor.
constexpr const char* kSpecialKeys[] = {
    "\x1b[A",     "\x1b[B",    "\x1b[C",    "\x1b[D",  "\x1b[H",  "\x1b[F",
    "\x1b[1;5C",  "\x1b[1;2A", "\x1b[3~",   "\x1b[2~", "\x1b[5~", "\x1b[6~",
    "\x1b[15;2~", "\x1b[24~",  "\x1b[200~", "\x1bOP",  "\x1bOQ",  "\x1bOH",
    "\x1bO2Q",    "\x1bO1;5R", "\x1b[[A",   "\x1b[[E",
};
// Control bytes the editor drops: all but Ctrl+D, Backspace, LF, CR, Ctrl+U and Escape.
constexpr unsigned char kDroppedControls[] = {0x00, 0x01, 0x02, 0x03, 0x05, 0x06, 0x07, 0x09, 0x0B,
                                              0x0C, 0x0E, 0x0F, 0x10, 0x11, 0x12, 0x13, 0x14, 0x16,
                                              0x17, 0x18, 0x19, 0x1A, 0x1C, 0x1D, 0x1E, 0x1F};

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

// What a user types: bytes, where a lone Escape must be followed by a pause, and the lines the
// keys should give, from a model that knows nothing of the editor's byte handling.
struct Typing {
  std::string bytes;
  std::vector<size_t> pauses_after;  // byte counts after which the next chunk comes late
  std::vector<std::string> lines;
};

Typing PickTyping(FuzzedDataProvider& input) {
  Typing typing;
  const int lines = input.ConsumeIntegralInRange(1, kMaxLines);
  for (int line = 0; line < lines; ++line) {
    std::vector<std::string> characters;
    const int tokens = input.ConsumeIntegralInRange(0, kMaxTokensPerLine);
    for (int token = 0; token < tokens; ++token) {
      switch (input.ConsumeIntegralInRange(0, 9)) {
        case 0:
        case 1:
        case 2: {
          const int count = input.ConsumeIntegralInRange(1, 4);
          for (int i = 0; i < count; ++i) {
            const char c = input.ConsumeIntegralInRange<char>(0x20, 0x7E);
            typing.bytes += c;
            characters.emplace_back(1, c);
          }
          break;
        }
        case 3: {
          std::string character;
          AppendUtf8(character, PickCodepoint(input));
          typing.bytes += character;
          characters.push_back(character);
          break;
        }
        case 4: {
          const size_t pick = input.ConsumeIntegralInRange<size_t>(0, std::size(kSpecialKeys));
          if (pick < std::size(kSpecialKeys)) {
            typing.bytes += kSpecialKeys[pick];
          } else {  // Alt with a key
            const char key = input.ConsumeIntegralInRange<char>(0x20, 0x7E);
            typing.bytes += '\x1b';
            typing.bytes += key;
            // Alt+[ and Alt+O begin longer sequences, which text after them would end; a
            // special key after them must still be dropped whole.
            if (key == '[' || key == 'O') typing.bytes += input.PickValueInArray(kSpecialKeys);
          }
          break;
        }
        case 5:
          typing.bytes += input.ConsumeBool() ? '\x7f' : '\b';
          if (!characters.empty()) characters.pop_back();
          break;
        case 6:
          typing.bytes += '\x15';
          characters.clear();
          break;
        case 7:
          typing.bytes += static_cast<char>(input.PickValueInArray(kDroppedControls));
          break;
        case 8:
          typing.bytes += '\x1b';
          typing.pauses_after.push_back(typing.bytes.size());
          break;
        case 9:
          if (!characters.empty()) typing.bytes += '\x04';  // Ctrl+D on a line with text
          break;
      }
    }
    typing.bytes += input.ConsumeBool() ? "\r" : "\r\n";
    std::string expected;
    for (const std::string& character : characters) expected += character;
    typing.lines.push_back(expected);
  }
  return typing;
}

// Typed keys, as chunks split anywhere, with resizes on the way; then the program reads the lines.
void RunStructured(FuzzedDataProvider& input) {
  ScriptedDeviceOptions options;
  options.size = PickSize(input);
  options.input_ends = input.ConsumeBool();
  const Typing typing = PickTyping(input);
  TestConsole test({}, options);
  size_t next_pause = 0;
  for (size_t at = 0; at < typing.bytes.size();) {
    // The bytes of a key come within the lone Escape's wait of each other, resize or not.
    int gap = kLoneEscapeMs;
    if (input.ConsumeIntegralInRange(0, 7) == 0) {
      const int resize_delay = input.ConsumeIntegralInRange(0, kLoneEscapeMs);
      test.device.steps.push_back({"", resize_delay, PickSize(input)});
      gap -= resize_delay;
    }
    const bool late = next_pause > 0 && typing.pauses_after[next_pause - 1] == at;
    size_t end = std::min(typing.bytes.size(), at + input.ConsumeIntegralInRange<size_t>(1, 12));
    if (next_pause < typing.pauses_after.size()) {
      end = std::min(end, typing.pauses_after[next_pause]);
      if (end == typing.pauses_after[next_pause]) ++next_pause;
    }
    const int delay = late ? input.ConsumeIntegralInRange(kLoneEscapeMs + 1, 1000)
                           : input.ConsumeIntegralInRange(0, gap);
    test.device.steps.push_back({typing.bytes.substr(at, end - at), delay});
    at = end;
  }

  Console& console = test.console;
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
