#include "console/line_editor.h"

#include "console/utf8.h"

namespace {

constexpr unsigned char kCtrlD = 0x04;
constexpr unsigned char kBackspace = 0x08;
constexpr unsigned char kTab = 0x09;
constexpr unsigned char kLineFeed = 0x0A;
constexpr unsigned char kCarriageReturn = 0x0D;
constexpr unsigned char kCtrlU = 0x15;
constexpr unsigned char kDelete = 0x7F;

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

LineEditor::Status LineEditor::FeedByte(unsigned char byte, LineEcho& echo) {
  if (byte >= 0x80) {
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
  if (!partial_.empty() && !IsUtf8Continuation(byte)) CompletePartialCharacter(echo);
  partial_ += static_cast<char>(byte);
  if (partial_.size() >= Utf8SequenceLength(static_cast<unsigned char>(partial_[0]))) {
    CompletePartialCharacter(echo);
  }
}

void LineEditor::CompletePartialCharacter(LineEcho& echo) {
  if (partial_.empty()) return;
  line_ += partial_;
  echo.ShowCharacter(partial_);
  partial_.clear();
}

// A character goes together with its marks: what stays on the screen is what is saved.
void LineEditor::EraseLastCharacter(LineEcho& echo) {
  const size_t length = LastClusterLength(line_);
  echo.EraseLastCharacter(std::string_view(line_).substr(line_.size() - length));
  line_.resize(line_.size() - length);
}

std::string LineEditor::TakeLine() {
  line_ += partial_;  // input that ended inside a character keeps its bytes
  partial_.clear();
  std::string line = std::move(line_);
  line_.clear();
  return line;
}
