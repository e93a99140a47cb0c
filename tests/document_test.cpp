// Where a name puts the document, which names are refused, that a save either replaces the whole
// document or leaves it exactly as it was, with no temporary file left behind, that the document
// stays the file it was, and that only trusted links are followed.
#include <gtest/gtest.h>

#ifndef _WIN32
#include <fcntl.h>
#include <grp.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <functional>
#include <map>
#include <string>
#include <string_view>
#include <thread>
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
  int cells = -1;                    // the cells it takes there, when not one for each byte
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
      {"a:b", {}, ""},         // a stream inside a file
      {"CON", {}, ""},         // devices, whatever the case, extension or folder
      {"nul.tar", {}, ""},
      {"lpt9 ", {}, ""},
      {"a/Com1", {"txt/a"}, ""},
      {"com10", {}, "txt/com10.txt"},
      {"CONSOLE", {}, "txt/CONSOLE.txt"},
#else
      {"x\x1b[2J\a", {}, "txt/x\x1b[2J\a.txt", "x␛[2J␇"},
      {"a:b", {}, "txt/a:b.txt"},
      {"CON", {}, "txt/CON.txt"},
#endif
      {"x", {"-txt"}, ""},
      {"../x", {}, ""},
      {"a/../../x", {"txt/a"}, ""},
      {"..", {}, "txt/...txt"},
      {std::string("a\0b", 3), {}, ""},
      {"cafe\u0301", {}, "txt/cafe\u0301.txt", "cafe\u0301", 4},  // the accent on its letter
      {"\u202Etxt.exe", {}, "txt/\u202Etxt.exe.txt", "\uFFFDtxt.exe", 8},  // shown, not obeyed
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
      const int cells = 28 + (c.cells < 0 ? static_cast<int>(c.name.size()) : c.cells) + 4;
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
  CreateDocument("a\x1b[2J\x9b\u2066");
  ConsoleOutput = previous;
  EXPECT_EQ(device.output, " The file has been saved as a␛[2J\uFFFD\uFFFD.txt\n");
  EXPECT_EQ(dir.Read("txt/a\x1b[2J\x9b\u2066.txt"), "");
}

constexpr uid_t kNobody = 65534;
constexpr char kText[] = "the new text";

struct stat StatusOf(const TempDir& dir, const std::string& path) {
  struct stat status {};
  lstat(dir.Path(path).c_str(), &status);
  return status;
}

// A mode of 0 leaves it as it is, as a link's must be: chmod would change its target's.
void Own(const TempDir& dir, const std::string& path, uid_t user, gid_t group, mode_t mode) {
  EXPECT_EQ(lchown(dir.Path(path).c_str(), user, group), 0);
  if (mode) {
    EXPECT_EQ(chmod(dir.Path(path).c_str(), mode), 0);
  }
}

// A link another user planted: followed, it would steer the write to a file of their choosing.
void ForeignLink(const TempDir& dir, const std::string& target, const std::string& link) {
  std::filesystem::create_symlink(target, dir.Path(link));
  Own(dir, link, kNobody, kNobody, 0);
}

void MakeSecret(const TempDir& dir) {
  dir.Write("secret", "root only");
  Own(dir, "secret", 0, 0, 0600);
}

// How `run` ends in a child process, as user and group nobody when asked: "" when it returns,
// else its error message. A run still going after five seconds is killed: a save must not hang.
std::string EndingInChild(bool as_nobody, const std::function<void()>& run) {
  const pid_t child = fork();
  if (child == 0) {
    if (as_nobody && (setgroups(0, nullptr) != 0 || setgid(kNobody) != 0 || setuid(kNobody) != 0)) {
      _exit(9);
    }
    try {
      TestConsole test({}, kNoKeyboard);
      const auto ended = EndingOf(run);
      _exit(!ended                                  ? 0
            : ended->status != 1                    ? 8
            : ended->error_message == kSaveFailed   ? 1
            : ended->error_message == kCreateFailed ? 2
                                                    : 8);
    } catch (...) {
      _exit(8);
    }
  }
  int status = 0;
  for (int waited = 0; waitpid(child, &status, WNOHANG) == 0; ++waited) {
    if (waited == 500) {
      kill(child, SIGKILL);
      waitpid(child, &status, 0);
      return "hung";
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  const char* const endings[] = {"", kSaveFailed, kCreateFailed};
  if (WIFEXITED(status) && WEXITSTATUS(status) < 3) return endings[WEXITSTATUS(status)];
  return "child ended with wait status " + std::to_string(status);
}

bool OthersCanReach(std::filesystem::path folder) {
  for (; folder != folder.root_path(); folder = folder.parent_path()) {
    struct stat status {};
    if (stat(folder.c_str(), &status) != 0 || !(status.st_mode & S_IXOTH)) return false;
  }
  return true;
}

enum class Who { kAnyone, kRoot, kNobody };  // kRoot: makes another user's files; kNobody: saves

struct IdentityCase {
  const char* what;
  Who who;
  std::string ending;                        // "" when it saves
  std::map<std::string, std::string> holds;  // files and what they hold afterwards
  bool in_place;                             // the file the document leads to keeps its inode
  std::function<void(TempDir&)> make;
  const char* created = nullptr;  // a name to create instead of saving "notes"
  std::function<void(const TempDir&)> check = nullptr;
};

TEST(WriteDocument, KeepsWhatTheDocumentIsAndFollowsOnlyTrustedLinks) {
  const auto document = [](uid_t user, gid_t group, mode_t mode, mode_t folder_mode) {
    return [=](TempDir& dir) {
      dir.Write("txt/notes.txt", "old");
      Own(dir, "txt/notes.txt", user, group, mode);
      EXPECT_EQ(chmod(dir.Path("txt").c_str(), folder_mode), 0);
    };
  };
  const auto linked_to_secret = [](mode_t folder_mode) {
    return [=](TempDir& dir) {
      MakeSecret(dir);
      EXPECT_EQ(chmod(dir.Path("txt").c_str(), folder_mode), 0);
      ForeignLink(dir, "../secret", "txt/notes.txt");
    };
  };
  // A folder outside txt/ and another user's link to it, in the place of `link`.
  const auto linked_folder = [](const char* target, const char* link) {
    return [=](TempDir& dir) {
      std::filesystem::remove(dir.Path(link));
      std::filesystem::create_directory(dir.Path("elsewhere"));
      ForeignLink(dir, target, link);
    };
  };
  const auto fifo = [](TempDir& dir) {
    ASSERT_EQ(mkfifo(dir.Path("txt/notes.txt").c_str(), 0666), 0);
  };
  const std::map<std::string, std::string> saved = {{"txt/notes.txt", kText}};
  const std::map<std::string, std::string> secret_kept = {{"secret", "root only"}};
  int reader = -1;
  const IdentityCase cases[] = {
      {"a new document", Who::kAnyone, "", saved, false,
       [](TempDir& dir) { dir.Write("reference", ""); }, nullptr,
       [](const TempDir& dir) {
         EXPECT_EQ(StatusOf(dir, "txt/notes.txt").st_mode, StatusOf(dir, "reference").st_mode);
       }},
      {"a file of one's own", Who::kAnyone, "", saved, false,
       document(geteuid(), getegid(), 0640, 0755)},
      {"second hard links",
       Who::kAnyone,
       "",
       {{"txt/notes.txt", kText}, {"txt/copy.txt", kText}, {"outside", kText}},
       true,
       [](TempDir& dir) {
         dir.Write("txt/notes.txt", "old");
         std::filesystem::create_hard_link(dir.Path("txt/notes.txt"), dir.Path("txt/copy.txt"));
         std::filesystem::create_hard_link(dir.Path("txt/notes.txt"), dir.Path("outside"));
       }},
      {"a folder user nobody cannot write to", Who::kNobody, "", saved, true,
       document(0, 0, 0666, 0755)},
      {"another user's file", Who::kRoot, "", saved, false, document(kNobody, kNobody, 0640, 0755)},
      {"a file of nobody's group", Who::kNobody, "", saved, true,
       document(0, kNobody, 0664, 01777)},
      {"nobody's own file in root's group", Who::kNobody, "", saved, true,
       document(kNobody, 0, 0644, 01777)},
      {"a link to a device",
       Who::kAnyone,
       "",
       {},
       true,
       [](TempDir& dir) {
         // A node of /dev/null's own where one may be made and used, else /dev/null itself.
         struct stat null {};
         stat("/dev/null", &null);
         std::filesystem::create_directory(dir.Path("devices"));
         const std::string node = dir.Path("devices/null");
         const int fd = mknod(node.c_str(), S_IFCHR | 0666, null.st_rdev) == 0
                            ? open(node.c_str(), O_WRONLY)
                            : -1;
         if (fd >= 0) close(fd);
         std::filesystem::create_symlink(fd >= 0 ? "../devices/null" : "/dev/null",
                                         dir.Path("txt/notes.txt"));
       }},
      {"a FIFO with a reader",
       Who::kAnyone,
       "",
       {},
       true,
       [&](TempDir& dir) {
         fifo(dir);
         reader = open(dir.Path("txt/notes.txt").c_str(), O_RDONLY | O_NONBLOCK);
       },
       nullptr,
       [&](const TempDir&) {
         std::string received(100, '\0');
         received.resize(static_cast<size_t>(
             std::max<ssize_t>(read(reader, received.data(), received.size()), 0)));
         close(reader);
         EXPECT_EQ(received, kText);
       }},
      {"a FIFO nobody reads", Who::kAnyone, kSaveFailed, {}, true, fifo},
      {"another user's link, at the save", Who::kRoot, kSaveFailed, secret_kept, true,
       linked_to_secret(01777)},
      {"another user's link, at creation", Who::kRoot, kCreateFailed, secret_kept, true,
       linked_to_secret(01777), "notes"},
      {"one's own link swapped for another user's after creation",
       Who::kRoot,
       kSaveFailed,
       {{"secret", "root only"}, {"reference", ""}},
       true,
       [&](TempDir& dir) {
         dir.Write("reference", "");
         std::filesystem::create_symlink("../reference", dir.Path("txt/notes.txt"));
         TestConsole test({}, kNoKeyboard);
         CreateDocument("notes");
         std::filesystem::remove(dir.Path("txt/notes.txt"));
         linked_to_secret(0777)(dir);
       }},
      {"another user's link to a folder",
       Who::kRoot,
       kCreateFailed,
       {},
       false,
       linked_folder("../elsewhere", "txt/sub"),
       "sub/x"},
      {"txt itself another user's link",
       Who::kRoot,
       kCreateFailed,
       {},
       false,
       linked_folder("elsewhere", "txt"),
       "notes"},
      {"one's own link",
       Who::kAnyone,
       "",
       {{"reference", kText}},
       false,
       [](TempDir& dir) {
         dir.Write("reference", "old");
         std::filesystem::create_symlink("../reference", dir.Path("txt/notes.txt"));
       }},
  };
  int skipped = 0;
  for (const IdentityCase& c : cases) {
    SCOPED_TRACE(c.what);
    WorkingTempDir dir;
    ASSERT_EQ(chmod(dir.Path().c_str(), 0755), 0);  // nobody must reach txt/
    if ((c.who != Who::kAnyone && geteuid() != 0) ||
        (c.who == Who::kNobody && !OthersCanReach(std::filesystem::current_path()))) {
      ++skipped;
      continue;
    }
    c.make(dir);
    struct stat name {};  // the document's own name, and the file it leads to
    struct stat file {};
    const bool existed = lstat("txt/notes.txt", &name) == 0 && stat("txt/notes.txt", &file) == 0;
    auto expected = dir.Entries();
    const std::string created = c.created ? c.created : "";
    EXPECT_EQ(
        EndingInChild(c.who == Who::kNobody,
                      [&] { c.created ? CreateDocument(created) : WriteDocument("notes", kText); }),
        c.ending);
    if (c.ending.empty()) expected.insert("txt/notes.txt");
    EXPECT_EQ(dir.Entries(), expected);  // no temporary file left, nothing made elsewhere
    for (const auto& [path, text] : c.holds) EXPECT_EQ(dir.Read(path), text) << path;
    struct stat name_after {};
    struct stat file_after {};
    if (existed) {  // a link stays a link, a FIFO a FIFO; owner, group and permissions stay
      ASSERT_EQ(lstat("txt/notes.txt", &name_after), 0);
      ASSERT_EQ(stat("txt/notes.txt", &file_after), 0);
      EXPECT_EQ(name_after.st_mode, name.st_mode);
      EXPECT_EQ(file_after.st_mode, file.st_mode);
      EXPECT_EQ(file_after.st_uid, file.st_uid);
      EXPECT_EQ(file_after.st_gid, file.st_gid);
      if (c.in_place) {
        EXPECT_EQ(file_after.st_ino, file.st_ino);
      }
    }
    if (c.check) c.check(dir);
  }
  if (skipped) {
    GTEST_SKIP() << skipped << " cases need root (they save as or make files of user 65534) and a "
                 << "temporary folder that other users can reach";
  }
}

// Limited to the older entry's length: the new text passes the limit, the old one fits back.
void LimitFileSize(bool limited) {
  rlimit limit{};
  getrlimit(RLIMIT_FSIZE, &limit);
  limit.rlim_cur = limited ? std::string_view("an older entry").size() : limit.rlim_max;
  setrlimit(RLIMIT_FSIZE, &limit);
}
#endif

// Each failure strikes at a different step: making the temporary file, writing it or the document
// itself, renaming it.
TEST(WriteDocument, AFailedSaveEndsWithTheBoxAndKeepsTheOlderDocument) {
  const std::pair<const char*, std::function<void(TempDir&)>> failures[] = {
      {"folder removed", [](TempDir& dir) { std::filesystem::remove_all(dir.Path("txt")); }},
#ifndef _WIN32
      {"file size limit", [](TempDir&) { LimitFileSize(true); }},
      {"file size limit, written in place",
       [](TempDir& dir) {
         std::filesystem::create_hard_link(dir.Path("txt/diary.txt"), dir.Path("txt/copy.txt"));
         LimitFileSize(true);
       }},
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
    const auto ended = EndingOf([] { WriteDocument("diary", "a new and longer entry"); });
#ifndef _WIN32
    LimitFileSize(false);
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
