// The line editor for keyboard input: turns the keys a terminal sends into one line of text,
// echoing as it goes. Special keys type nothing; Backspace erases what a reader takes for one
// character: a grapheme cluster in UTF-8, a character with its marks in other charsets. The line
// keeps the bytes as typed, in the keyboard's character set; the echo gets each character as
// UTF-8.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "console/charset.h"
#include "console/grapheme.h"
#include "console/input/pending_input.h"

// Where the editor shows the line as it changes.
class LineEcho {
 public:
  virtual ~LineEcho() = default;
  // Whole characters, appended: one as it is typed, many at once from a paste.
  virtual void ShowText(std::string_view utf8) = 0;
  // What one Backspace erased from the end: a grapheme cluster, one glyph or more
  // (LastGlyphLength).
  virtual void EraseLastCharacter(std::string_view cluster) = 0;
  virtual void EndLine() = 0;  // the line is complete
};

class LineEditor {
 public:
  enum class Status { kEditing, kLineDone, kInputEnded };

  explicit LineEditor(const Charset& charset = {}) : charset_(charset) {}

  // Takes one key. kLineDone: the line is complete; kInputEnded: Ctrl+D on an empty line, the
  // user has nothing more to type.
  Status Feed(const Key& key, LineEcho& echo);
  // Takes keys that are each a byte of text (PendingInput::TakeText) at once, with the same line
  // and echo as one by one.
  void FeedText(std::string_view text, LineEcho& echo);
  size_t LineSize() const { return line_.size() + partial_.size(); }
  // Hands over the finished line and starts a new, empty one.
  std::string TakeLine();

 private:
  Status FeedByte(unsigned char byte, LineEcho& echo);
  void AppendByte(unsigned char byte, LineEcho& echo);
  void CompletePartialCharacter(LineEcho& echo);
  void AppendCharacter(std::string_view character, LineEcho& echo);
  void EraseLastCharacter(LineEcho& echo);
  size_t TakeLastCluster();

  Charset charset_;
  std::string line_;
  std::string partial_;  // the start of a character still waiting for its other bytes
  // Each character's length in bytes, where the charset's characters cannot be told apart going
  // backwards (EUC-JP, Big5, GB18030...); empty in UTF-8 and single-byte charsets.
  std::vector<uint8_t> character_lengths_;
  ClusterLookBack look_back_;  // in UTF-8
};
