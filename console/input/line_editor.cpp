#include "console/input/line_editor.h"

#include <algorithm>

#include "console/utf8.h"

namespace {

constexpr unsigned char kCtrlD = 0x04;
constexpr unsigned char kBackspace = 0x08;
constexpr unsigned char kTab = 0x09;
constexpr unsigned char kLineFeed = 0x0A;
constexpr unsigned char kCarriageReturn = 0x0D;
constexpr unsigned char kCtrlU = 0x15;
constexpr unsigned char kDelete = 0x7F;

// The start of a character that a UTF-8 text ends in, still waiting for its other bytes: its
// length, or 0. As Charset::TypedCharacterLength finds it, going back to the last byte that is
// no continuation.
size_t WaitingUtf8Length(std::string_view text) {
  for (size_t length = 1; length <= std::min<size_t>(text.size(), 3); ++length) {
    const auto byte = static_cast<unsigned char>(text[text.size() - length]);
    if (!IsUtf8Continuation(byte)) return length < Utf8SequenceLength(byte) ? length : 0;
  }
  return 0;
}

}  // namespace

LineEditor::Status LineEditor::Feed(const Key& key, LineEcho& echo) {
  switch (key.kind) {
    case KeyKind::kCharacter:  // an Enter sent as CR LF or CR NUL is one key: its CR counts
      return FeedByte(static_cast<unsigned char>(key.bytes[0]), echo);
    case KeyKind::kKeypad:
      return FeedByte(static_cast<unsigned char>(KeypadCharacter(key.bytes)), echo);
    case KeyKind::kAlt:  // Alt+key is a command to other programs, not text
    case KeyKind::kEscape:
    case KeyKind::kSpecial:
    case KeyKind::kEarlyCtrlD:
      break;
  }
  return Status::kEditing;
}

void LineEditor::FeedText(std::string_view text, LineEcho& echo) {
  // Characters of EUC-JP, Big5 and the like are told apart only going forwards, with each
  // one's length kept: those go a byte at a time.
  const bool whole = charset_.IsUtf8() || charset_.IsSingleByte();
  while (!text.empty() && (!whole || !partial_.empty())) {
    FeedByte(static_cast<unsigned char>(text.front()), echo);
    text.remove_prefix(1);
  }
  if (text.empty()) return;
  const size_t waiting = charset_.IsUtf8() ? WaitingUtf8Length(text) : 0;
  const std::string_view complete = text.substr(0, text.size() - waiting);
  // Grown by doubling from where it is, as a character at a time grows it: a paste leaves the
  // line the memory it had, and takes no more on the way.
  size_t capacity = std::max<size_t>(line_.capacity(), 1);
  while (capacity < line_.size() + complete.size()) capacity *= 2;
  line_.reserve(capacity);
  line_ += complete;
  partial_ = text.substr(complete.size());
  if (complete.empty()) return;
  if (charset_.IsUtf8()) {
    echo.ShowText(complete);
  } else {
    echo.ShowText(charset_.TypedToUtf8(complete));
  }
}

LineEditor::Status LineEditor::FeedByte(unsigned char byte, LineEcho& echo) {
  // Past its first byte, a character of Big5, GBK or Shift_JIS may go on in the ASCII range.
  if (byte >= 0x80 || (!partial_.empty() && byte >= 0x20 && byte < kDelete)) {
    AppendByte(byte, echo);
    return Status::kEditing;
  }
  CompletePartialCharacter(echo);
  switch (byte) {
    case kCarriageReturn:
    case kLineFeed:
      echo.EndLine();
      return Status::kLineDone;
    case kBackspace:
    case kDelete:
      if (!line_.empty()) EraseLastCharacter(echo);
      return Status::kEditing;
    case kCtrlU:
      while (!line_.empty()) EraseLastCharacter(echo);
      return Status::kEditing;
    case kCtrlD:
      return line_.empty() ? Status::kInputEnded : Status::kEditing;
    default:
      // Tab is text, shown as its visible picture; other control bytes are dropped.
      if (byte >= 0x20 || byte == kTab) AppendByte(byte, echo);
      return Status::kEditing;
  }
}

void LineEditor::AppendByte(unsigned char byte, LineEcho& echo) {
  partial_ += static_cast<char>(byte);
  for (size_t length;
       !partial_.empty() && (length = charset_.TypedCharacterLength(partial_)) != 0;) {
    AppendCharacter(std::string_view(partial_).substr(0, length), echo);
    partial_.erase(0, length);
  }
}

void LineEditor::CompletePartialCharacter(LineEcho& echo) {
  if (partial_.empty()) return;
  AppendCharacter(partial_, echo);
  partial_.clear();
}

void LineEditor::AppendCharacter(std::string_view character, LineEcho& echo) {
  line_ += character;
  if (!charset_.IsUtf8() && !charset_.IsSingleByte()) {
    character_lengths_.push_back(static_cast<uint8_t>(character.size()));
  }
  echo.ShowText(charset_.TypedToUtf8(character));
}

// A cluster is whole glyphs, and the echo erases them: what stays on the screen is what is saved.
void LineEditor::EraseLastCharacter(LineEcho& echo) {
  const size_t length = TakeLastCluster();
  echo.EraseLastCharacter(
      charset_.TypedToUtf8(std::string_view(line_).substr(line_.size() - length)));
  line_.resize(line_.size() - length);
}

// The length in bytes of the line's last grapheme cluster; in other charsets, of its last glyph
// (a character that takes cells, with the marks after it), as LastGlyphLength finds it in UTF-8.
size_t LineEditor::TakeLastCluster() {
  if (charset_.IsUtf8()) return LastClusterLength(line_, &look_back_);
  size_t length = 0;
  while (length < line_.size()) {
    size_t last = 1;
    if (!charset_.IsSingleByte()) {
      last = character_lengths_.back();
      character_lengths_.pop_back();
    }
    length += last;
    const std::string_view character = std::string_view(line_).substr(line_.size() - length, last);
    if (CellWidth(VisibleCodepoint(charset_.DecodeTyped(character))) != 0) break;
  }
  return length;
}

std::string LineEditor::TakeLine() {
  line_ += partial_;  // input that ended inside a character keeps its bytes
  partial_.clear();
  character_lengths_.clear();
  look_back_ = {};
  std::string line = std::move(line_);
  line_.clear();
  return line;
}
