#include "console/input/key_reader.h"

namespace {

constexpr unsigned char kEscapeByte = 0x1B;
constexpr unsigned char kBell = 0x07;
constexpr unsigned char kCancel = 0x18;      // CAN and SUB abandon a sequence on a terminal
constexpr unsigned char kSubstitute = 0x1A;  // and in a reply alike
constexpr int kMouseReportBytes = 3;         // button, column, row, each a byte of its own

bool IsParameterOrIntermediate(unsigned char byte) {
  return byte >= 0x20 && byte <= 0x3F;
}
bool IsFinal(unsigned char byte) {
  return byte >= 0x40 && byte <= 0x7E;
}
bool IsPrintableAscii(unsigned char byte) {
  return byte >= 0x20 && byte <= 0x7E;
}
// The byte after ESC that begins a string: OSC, DCS, APC, SOS, PM. Their 8-bit forms are not
// taken, as 8-bit CSI is not: those bytes are text in UTF-8 and most legacy charsets.
bool StartsString(unsigned char byte) {
  return byte == ']' || byte == 'P' || byte == '_' || byte == 'X' || byte == '^';
}
// ESC O j to ESC O y are the keypad's * + , - . / and 0 to 9; ESC O M is its Enter, ESC O X its =.
bool IsKeypadFinal(unsigned char byte) {
  return (byte >= 'j' && byte <= 'y') || byte == 'M' || byte == 'X';
}

}  // namespace

KeyReader::Step KeyReader::Advance(unsigned char byte, int64_t gap_ms) {
  if (state_ != State::kNone && gap_ms > SequenceWaitMilliseconds()) return Step::kCutShort;
  // An Escape inside a sequence starts the next one (Alt+[ typed just before an arrow key), so
  // that sequence too is taken whole; inside a string it may be the first half of its end.
  if (byte == kEscapeByte && state_ != State::kNone && state_ != State::kString) {
    return Step::kCutShort;
  }
  if (state_ == State::kStringEscape && byte != '\\') return Step::kEscapeStartsNext;
  ++length_;
  switch (state_) {
    case State::kNone:
      if (byte == kEscapeByte) {
        state_ = State::kEscape;
        return Step::kContinue;
      }
      complete_kind_ = KeyKind::kCharacter;
      return Step::kComplete;
    case State::kEscape:
      if (byte == '[') state_ = State::kCsiStart;
      if (byte == 'O') state_ = State::kSs3;
      if (StartsString(byte)) state_ = State::kString;
      if (state_ != State::kEscape) return Step::kContinue;
      if (IsPrintableAscii(byte)) {
        complete_kind_ = KeyKind::kAlt;
        return Step::kComplete;
      }
      break;  // Escape was a key of its own, and this byte is the next one
    case State::kCsiStart:
      if (byte == '[') {
        state_ = State::kLinuxFunction;
        return Step::kContinue;
      }
      if (byte == 'M') {  // CSI M with no parameters: an X10 mouse report follows
        state_ = State::kMouse;
        mouse_bytes_ = 0;
        return Step::kContinue;
      }
      [[fallthrough]];
    case State::kCsi:
      state_ = State::kCsi;
      if (IsParameterOrIntermediate(byte)) return Step::kContinue;
      if (!IsFinal(byte)) break;
      complete_kind_ = KeyKind::kSpecial;
      return Step::kComplete;
    case State::kLinuxFunction:
      if (!IsPrintableAscii(byte)) break;
      complete_kind_ = KeyKind::kSpecial;
      return Step::kComplete;
    case State::kMouse:
      if (byte < 0x20) break;  // each byte carries 32 plus its value
      if (++mouse_bytes_ < kMouseReportBytes) return Step::kContinue;
      complete_kind_ = KeyKind::kSpecial;
      return Step::kComplete;
    case State::kSs3: {
      const bool has_parameters = length_ > 3;
      if (byte >= '0' && byte <= ';') return Step::kContinue;  // modifier parameters
      if (!IsFinal(byte)) break;
      complete_kind_ =
          IsKeypadFinal(byte) && !has_parameters ? KeyKind::kKeypad : KeyKind::kSpecial;
      return Step::kComplete;
    }
    case State::kString:
      if (byte == kEscapeByte) state_ = State::kStringEscape;
      if (byte == kCancel || byte == kSubstitute) break;
      if (byte != kBell) return Step::kContinue;
      complete_kind_ = KeyKind::kSpecial;
      return Step::kComplete;
    case State::kStringEscape:  // ESC \, the string's end
      complete_kind_ = KeyKind::kSpecial;
      return Step::kComplete;
  }
  --length_;  // the byte is not part of the sequence
  return Step::kCutShort;
}

char KeypadCharacter(std::string_view sequence) {
  const char final_byte = sequence.empty() ? '\0' : sequence.back();
  if (final_byte == 'M') return '\r';
  if (final_byte == 'X') return '=';
  return static_cast<char>(final_byte - 0x40);  // 'p' - 0x40 is '0', 'j' - 0x40 is '*'
}
