#include "console/line_editor.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

// Records what the editor shows, as the screen would hold it.
class RecordingEcho : public LineEcho {
 public:
  void ShowCharacter(std::string_view utf8) override { shown.emplace_back(utf8); }
  void EraseLastCharacter() override {
    ASSERT_FALSE(shown.empty()) << "erased more than was shown";
    shown.pop_back();
  }
  void EndLine() override { ++ended; }
  std::string Shown() const {
    std::string all;
    for (const std::string& character : shown) all += character;
    return all;
  }
  std::vector<std::string> shown;
  int ended = 0;
};

struct EditCase {
  const char* name;
  std::string keys;
  std::string line;
  friend void PrintTo(const EditCase& c, std::ostream* out) { *out << c.name; }
};

// Feeds keys until a line is done; the line must equal what the echo shows.
std::string EditLine(const std::string& keys, RecordingEcho& echo, LineEditor& editor) {
  for (const char key : keys) {
    if (editor.Feed(static_cast<unsigned char>(key), echo) != LineEditor::Status::kEditing) break;
  }
  return editor.TakeLine();
}

class LineEditorCases : public testing::TestWithParam<EditCase> {};

TEST_P(LineEditorCases, LineAndEchoAgree) {
  RecordingEcho echo;
  LineEditor editor;
  EXPECT_EQ(EditLine(GetParam().keys, echo, editor), GetParam().line);
  EXPECT_EQ(echo.Shown(), GetParam().line);
}

INSTANTIATE_TEST_SUITE_P(
    Keys, LineEditorCases,
    testing::Values(EditCase{"plain", "diary\r", "diary"},
                    EditCase{"line_feed_ends", "diary\nmore", "diary"},
                    EditCase{"backspace_del",
                             "nd\x7f\x7f"
                             "diary\r",
                             "diary"},
                    EditCase{"backspace_ctrl_h", "ab\x08\r", "a"},
                    EditCase{"backspace_on_empty_line",
                             "\x7f\x7f"
                             "a\r",
                             "a"},
                    EditCase{"backspace_two_byte_utf8",
                             "caf\xc3\xa9\x7f"
                             "e\r",
                             "cafe"},
                    EditCase{"backspace_three_byte_utf8", "5\xe2\x82\xac\x7f\r", "5"},
                    EditCase{"backspace_four_byte_utf8", "x\xf0\x9f\x98\x80\x7f\r", "x"},
                    EditCase{"backspace_invalid_byte_alone", "a\xff\x7f\r", "a"},
                    EditCase{"backspace_truncated_sequence", "a\xe2\x82\x7f\r", "a"},
                    EditCase{"ctrl_u_erases_line", "ab\xc3\xa9\x15xy\r", "xy"},
                    EditCase{"arrow_keys_dropped", "a\x1b[Db\x1b[A\x1b[B\x1b[C\r", "ab"},
                    EditCase{"csi_with_parameters", "a\x1b[1;5Cb\x1b[15~c\x1b[200~\r", "abc"},
                    EditCase{"ss3_keys_dropped", "a\x1bOPb\x1bOH\x1bO1;2Q\r", "ab"},
                    EditCase{"linux_console_f1", "a\x1b[[Ab\r", "ab"},
                    EditCase{"alt_key_dropped",
                             "a\x1b"
                             "xb\r",
                             "ab"},
                    EditCase{"escape_then_enter", "ab\x1b\r", "ab"},
                    EditCase{"escape_escape_arrow", "a\x1b\x1b[Ab\r", "ab"},
                    EditCase{"controls_dropped",
                             "a\x01\x02\t\x0b\x0c\x1f"
                             "b\r",
                             "ab"},
                    EditCase{"invalid_utf8_kept", "a\xff\xc3(\r", "a\xff\xc3("},
                    EditCase{"utf8_kept", "\xe6\x97\xa5\xe8\xa8\x98\r",
                             "\xe6\x97\xa5\xe8\xa8\x98"}),
    [](const testing::TestParamInfo<EditCase>& info) { return std::string(info.param.name); });

TEST(LineEditor, CrLfEndsOneLineOnly) {
  RecordingEcho echo;
  LineEditor editor;
  EXPECT_EQ(EditLine("first\r", echo, editor), "first");
  EXPECT_EQ(EditLine("\nsecond\r", echo, editor), "second");
  EXPECT_EQ(EditLine("\n\r", echo, editor), "");  // LF right after the CR of a pair is dropped
}

TEST(LineEditor, CtrlDEndsInputOnlyOnAnEmptyLine) {
  RecordingEcho echo;
  LineEditor editor;
  EXPECT_EQ(editor.Feed('a', echo), LineEditor::Status::kEditing);
  EXPECT_EQ(editor.Feed(0x04, echo), LineEditor::Status::kEditing);
  EXPECT_EQ(editor.Feed(0x7f, echo), LineEditor::Status::kEditing);
  EXPECT_EQ(editor.Feed(0x04, echo), LineEditor::Status::kInputEnded);
  EXPECT_EQ(editor.TakeLine(), "");
}

TEST(LineEditor, LoneEscapeEndsAfterTimeoutSoTheNextKeyCounts) {
  RecordingEcho echo;
  LineEditor editor;
  editor.Feed(0x1b, echo);
  EXPECT_TRUE(editor.InEscapeSequence());
  editor.EndLoneEscape();
  EXPECT_EQ(EditLine("x\r", echo, editor), "x");  // not swallowed as Alt+x
}

TEST(LineEditor, InputEndingInsideACharacterKeepsItsBytes) {
  RecordingEcho echo;
  LineEditor editor;
  editor.Feed('a', echo);
  editor.Feed(0xe2, echo);
  EXPECT_EQ(editor.TakeLine(), "a\xe2");
}

}  // namespace
