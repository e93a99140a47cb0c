// Where a name puts the document, which names are refused, and that a save either replaces the
// whole document or leaves it exactly as it was, with no temporary file left behind.
#include <gtest/gtest.h>

#ifndef _WIN32
#include <sys/resource.h>
#include <sys/stat.h>
#endif

#include <filesystem>
#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "console/plain_console.h"
#include "document/document_file.h"
#include "tests/support/temp_dir.h"
#include "tests/support/test_console.h"

namespace {

constexpr char kCreateFailed[] = "ERROR: Failed to create file.";
constexpr char kSaveFailed[] = "ERROR: Failed to save file.";
// With no keyboard, the error box ends the run without waiting to be dismissed.
constexpr ScriptedDeviceOptions kNoKeyboard{.input_is_terminal = false};

struct NameCase {
  std::string name;
  std::vector<std::string> folders;  // made before the run; "-txt" removes txt/
  std::string created;               // the document made, or empty when the name must fail
  std::string shown = name;          // the name as the creation notice shows it
};

TEST(CreateDocument, PutsTheDocumentWhereTheNameSaysOrFailsCreatingNothing) {
  const NameCase cases[] = {
      {"", {}, "txt/.txt"},
      {"my notes", {}, "txt/my notes.txt"},
      {"a.txt", {}, "txt/a.txt.txt"},
      {"a/b", {"txt/a"}, "txt/a/b.txt"},
      {"a/b", {}, ""},
      {"/tmp/x", {}, ""},
      {"/tmp/x", {"txt/tmp"}, "txt/tmp/x.txt"},
#ifdef _WIN32
      {"a\\b", {"txt/a"}, "txt/a/b.txt"},
      {"..\\x", {}, ""},
      {"a\\..\\..\\x", {"txt/a"}, ""},
      {"x\x1b[2J\a", {}, ""},  // no control characters in Windows file names
#else
      {"x\x1b[2J\a", {}, "txt/x\x1b[2J\a.txt", "x␛[2J␇"},
#endif
      {"x", {"-txt"}, ""},
      {"../x", {}, ""},
      {"a/../../x", {"txt/a"}, ""},
      {"..", {}, "txt/...txt"},
      {std::string("a\0b", 3), {}, ""},
  };
  for (const NameCase& c : cases) {
    SCOPED_TRACE(testing::PrintToString(c.name));
    WorkingTempDir dir;
    for (const std::string& folder : c.folders) {
      folder == "-txt" ? std::filesystem::remove(dir.Path("txt"))
                       : std::filesystem::create_directories(dir.Path(folder));
    }
    auto expected = dir.Entries();
    TestConsole test({}, kNoKeyboard);
    const auto ended = EndingOf([&] { CreateDocument(c.name); });
    if (c.created.empty()) {
      ASSERT_TRUE(ended);
      EXPECT_EQ(ended->status, 1);
      EXPECT_EQ(ended->error_message, kCreateFailed);
    } else {
      ASSERT_FALSE(ended) << ended->error_message;
      expected.insert(c.created);
      EXPECT_EQ(dir.Read(c.created), "");
      const int cells =
          28 + static_cast<int>(c.name.size()) + 4;  // a cell for each byte of the name
      EXPECT_EQ(test.Text(2, 4, cells), " The file has been saved as " + c.shown + ".txt");
      EXPECT_EQ(test.device.now, 2000);
    }
    EXPECT_EQ(dir.Entries(), expected);
  }
}

// Long and empty lines are saved in the closing screens' table.
TEST(WriteDocument, ReplacesTheOlderDocumentLeavingNothingElse) {
  WorkingTempDir dir;
  TestConsole test;
  dir.Write("txt/diary.txt", "an older entry");
  CreateDocument("diary");
  EXPECT_EQ(dir.Read("txt/diary.txt"), "an older entry");  // nothing lost before the save
  WriteDocument("diary", "new");
  EXPECT_EQ(dir.Read("txt/diary.txt"), "new");
  EXPECT_EQ(dir.Entries(), (std::set<std::string>{"txt", "txt/diary.txt"}));
}

#ifndef _WIN32
// Control characters can be part of a file name here, though not on Windows.
TEST(CreateDocument, TheNoticeSendsNoControlCharacterToPlainOutputEither) {
  WorkingTempDir dir;
  ScriptedDevice device({}, kNoKeyboard);
  PlainConsole console(device);
  Console* const previous = std::exchange(ConsoleOutput, &console);
  CreateDocument("a\x1b[2J\x9b");
  ConsoleOutput = previous;
  EXPECT_EQ(device.output, " The file has been saved as a␛[2J\uFFFD.txt\n");
  EXPECT_EQ(dir.Read("txt/a\x1b[2J\x9b.txt"), "");
}

mode_t ModeOf(const std::string& path) {
  struct stat status {};
  lstat(path.c_str(), &status);
  return status.st_mode;
}

TEST(WriteDocument, KeepsPermissionsAndFollowsLinks) {
  WorkingTempDir dir;
  TestConsole test;
  dir.Write("txt/diary.txt", "an older entry");
  chmod(dir.Path("txt/diary.txt").c_str(), 0640);
  WriteDocument("diary", "new");
  EXPECT_EQ(ModeOf(dir.Path("txt/diary.txt")) & 07777, 0640u);

  // A new document gets the permissions any new file gets; a link keeps pointing at its file.
  dir.Write("reference", "");
  WriteDocument("new", "n");
  EXPECT_EQ(ModeOf(dir.Path("txt/new.txt")), ModeOf(dir.Path("reference")));
  std::filesystem::create_symlink("../reference", dir.Path("txt/link.txt"));
  WriteDocument("link", "through the link");
  EXPECT_EQ(dir.Read("reference"), "through the link");
  EXPECT_TRUE(S_ISLNK(ModeOf(dir.Path("txt/link.txt"))));
  EXPECT_EQ(dir.Entries(), (std::set<std::string>{"reference", "txt", "txt/diary.txt",
                                                  "txt/link.txt", "txt/new.txt"}));
}

void LimitFileSizeToZero(bool limited) {
  rlimit limit{};
  getrlimit(RLIMIT_FSIZE, &limit);
  limit.rlim_cur = limited ? 0 : limit.rlim_max;
  setrlimit(RLIMIT_FSIZE, &limit);
}
#endif

// Each failure strikes at a different step: making the temporary file, writing it, renaming it.
TEST(WriteDocument, AFailedSaveEndsWithTheBoxAndKeepsTheOlderDocument) {
  const std::pair<const char*, std::function<void(TempDir&)>> failures[] = {
      {"folder removed", [](TempDir& dir) { std::filesystem::remove_all(dir.Path("txt")); }},
#ifndef _WIN32
      {"file size limit", [](TempDir&) { LimitFileSizeToZero(true); }},
#endif
      {"document is a folder",
       [](TempDir& dir) {
         std::filesystem::remove(dir.Path("txt/diary.txt"));
         std::filesystem::create_directories(dir.Path("txt/diary.txt/inside"));
       }},
  };
  for (const auto& [what, make_it_fail] : failures) {
    SCOPED_TRACE(what);
    WorkingTempDir dir;
    dir.Write("txt/diary.txt", "an older entry");
    TestConsole test({}, kNoKeyboard);
    make_it_fail(dir);
    const auto expected = dir.Entries();
    const auto ended = EndingOf([] { WriteDocument("diary", "new text"); });
#ifndef _WIN32
    LimitFileSizeToZero(false);
#endif
    ASSERT_TRUE(ended);
    EXPECT_EQ(ended->status, 1);
    EXPECT_EQ(ended->error_message, kSaveFailed);
    EXPECT_EQ(dir.Entries(), expected);
    if (std::filesystem::is_regular_file(dir.Path("txt/diary.txt"))) {
      EXPECT_EQ(dir.Read("txt/diary.txt"), "an older entry");
    }
  }
}

}  // namespace
