// Where a name puts the document, which names are refused, that a save either replaces the whole
// document or leaves it exactly as it was, with no temporary file left behind, that the document
// stays the file it was, and that only trusted links are followed.
#include <gtest/gtest.h>

#ifdef _WIN32
#include <windows.h>
// After windows.h, whose types they use.
#include <sddl.h>
#endif
#ifndef _WIN32
#include <fcntl.h>
#include <grp.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#endif
#ifdef __linux__
#include <linux/filter.h>
#include <linux/seccomp.h>
#include <sched.h>
#include <sys/mount.h>
#include <sys/prctl.h>
#include <sys/syscall.h>
#include <sys/xattr.h>

#include <cstddef>
#endif

#include <algorithm>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <span>
#include <string>
#include <string_view>
#include <thread>
#include <utility>
#include <vector>

#include "console/plain_console.h"
#include "document/document_file.h"
#include "document/windows_names.h"
#include "tests/support/temp_dir.h"
#include "tests/support/test_console.h"

namespace {

constexpr char kCreateFailed[] = "ERROR: Failed to create file.";
constexpr char kSaveFailed[] = "ERROR: Failed to save file.";
// The failed saves' older document: the new text passes a limit of its length, it fits back.
constexpr std::string_view kOlder = "an older entry";
// With no keyboard, the error box ends the run without waiting to be dismissed.
constexpr ScriptedDeviceOptions kNoKeyboard{.input_is_terminal = false};

struct NameCase {
  std::string name;
  std::vector<std::string> folders = {};  // made before the run; "-txt" removes txt/
  std::string created = "";               // the document made, or empty when the name must fail
  std::string shown = name;               // the name as the creation notice shows it
  int cells = -1;                         // the cells it takes there, when not one for each byte
  bool plain_output = false;              // to a file or a pipe, not a screen
};

TEST(CreateDocument, PutsTheDocumentWhereTheNameSaysOrFailsCreatingNothing) {
  const NameCase cases[] = {
      {.name = "", .created = "txt/.txt"},
      {.name = "my notes", .created = "txt/my notes.txt"},
      {.name = "a/b", .folders = {"txt/a"}, .created = "txt/a/b.txt"},
      {.name = "a/b"},
      {.name = "/tmp/x", .folders = {"txt/tmp"}, .created = "txt/tmp/x.txt"},
#ifdef _WIN32
      {.name = "a\\b", .folders = {"txt/a"}, .created = "txt/a/b.txt"},
      {.name = "..\\x"},
      {.name = "a\\..\\..\\x", .folders = {"txt/a"}},
      {.name = "x\x1b[2J\a"},  // no control characters in Windows file names
      {.name = "a:b"},         // a stream inside a file
      {.name = "CON"},         // devices, in any folder (the names in WindowsDocumentNames)
      {.name = "a/Com1", .folders = {"txt/a"}},
#else
      {.name = "x\x1b[2J\a", .created = "txt/x\x1b[2J\a.txt", .shown = "x␛[2J␇"},
      // Names typed in UTF-8; Windows reads them in the console's code page. The accent goes on
      // its letter; a right-to-left override is shown, not obeyed.
      {.name = "cafe\u0301", .created = "txt/cafe\u0301.txt", .shown = "cafe\u0301", .cells = 4},
      {.name = "\u202Etxt.exe",
       .created = "txt/\u202Etxt.exe.txt",
       .shown = "\uFFFDtxt.exe",
       .cells = 8},
#endif
      {.name = "x", .folders = {"-txt"}},
      {.name = "x", .folders = {"-txt"}, .plain_output = true},
      {.name = "../x"},
      {.name = "a/../../x", .folders = {"txt/a"}},
      {.name = "..", .created = "txt/...txt"},
      {.name = std::string("a\0b", 3)},
      // The notice runs past the screen's right edge and on in the next row, where the cells
      // read on, losing no character at the wrap.
      {.name = std::string(100, 'n'), .created = "txt/" + std::string(100, 'n') + ".txt"},
  };
  for (const NameCase& c : cases) {
    SCOPED_TRACE(testing::PrintToString(c.name) + (c.plain_output ? " to plain output" : ""));
    WorkingTempDir dir;
    for (const std::string& folder : c.folders) {
      folder == "-txt" ? std::filesystem::remove(dir.Path("txt"))
                       : std::filesystem::create_directories(dir.Path(folder));
    }
    auto expected = dir.Entries();
    TestConsole test({}, kNoKeyboard);
    ScriptedDevice plain_device({}, kNoKeyboard);
    PlainConsole plain(plain_device);
    if (c.plain_output) ConsoleOutput = &plain;  // until the test console puts its own back
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

// Checked on every platform; only the Windows build refuses them.
TEST(WindowsDocumentNames, RefusesDevicesAndStreamsOnly) {
  const struct {
    std::string_view name;
    bool refused;
  } cases[] = {
      {.name = "CON", .refused = true},           {.name = "con.txt", .refused = true},
      {.name = "COM1 ", .refused = true},         {.name = "LPT9", .refused = true},
      {.name = "CONOUT$", .refused = true},       {.name = "a:b", .refused = true},
      {.name = "COM0", .refused = false},         {.name = "com10", .refused = false},
      {.name = "CONSOLE", .refused = false},      {.name = "notes", .refused = false},
      {.name = "my notes.txt", .refused = false},
  };
  for (const auto& [name, refused] : cases) {
    EXPECT_EQ(IsRefusedWindowsName(name), refused) << name;
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

#ifdef __linux__
// Refuses every open that would create a file without O_EXCL, as the kernel's protected_regular
// refuses one of another user's file in a shared sticky folder, even to root.
bool RefuseCreatingWithoutExclusive() {
  constexpr unsigned kFlags = offsetof(seccomp_data, args[2]) +
                              (__BYTE_ORDER__ == __ORDER_BIG_ENDIAN__ ? 4 : 0);  // the low half
  sock_filter filter[] = {
      BPF_STMT(BPF_LD | BPF_W | BPF_ABS, offsetof(seccomp_data, nr)),
      BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, SYS_openat, 0, 4),
      BPF_STMT(BPF_LD | BPF_W | BPF_ABS, kFlags),
      BPF_STMT(BPF_ALU | BPF_AND | BPF_K, O_CREAT | O_EXCL),
      BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, O_CREAT, 0, 1),
      BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_ERRNO | EACCES),
      BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_ALLOW),
  };
  const sock_fprog program{static_cast<unsigned short>(std::size(filter)), filter};
  return prctl(PR_SET_NO_NEW_PRIVS, 1, 0, 0, 0) == 0 &&
         prctl(PR_SET_SECCOMP, SECCOMP_MODE_FILTER, &program) == 0;
}
#else
bool RefuseCreatingWithoutExclusive() {
  return true;
}
#endif

// How `run` ends in a child process, as user and group nobody when asked: "" when it returns,
// else its error message. A run still going after five seconds is killed: a save must not hang.
// The child may not open an existing file with O_CREAT, which the kernel may refuse.
std::string EndingInChild(bool as_nobody, const std::function<void()>& run) {
  const pid_t child = fork();
  if (child == 0) {
    if (as_nobody && (setgroups(0, nullptr) != 0 || setgid(kNobody) != 0 || setuid(kNobody) != 0)) {
      _exit(9);
    }
    if (!RefuseCreatingWithoutExclusive()) _exit(7);
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

// Files written past `bytes` fail (RLIM_INFINITY: as far as the hard limit allows).
void LimitFileSize(rlim_t bytes) {
  rlimit limit{};
  getrlimit(RLIMIT_FSIZE, &limit);
  limit.rlim_cur = std::min(bytes, limit.rlim_max);
  setrlimit(RLIMIT_FSIZE, &limit);
}

bool OthersCanReach(std::filesystem::path folder) {
  for (; folder != folder.root_path(); folder = folder.parent_path()) {
    struct stat status {};
    if (stat(folder.c_str(), &status) != 0 || !(status.st_mode & S_IXOTH)) return false;
  }
  return true;
}

#ifdef __linux__
// Every extended attribute of the file a path leads to, with its value.
std::map<std::string, std::string> AttributesOf(const std::string& path) {
  std::map<std::string, std::string> attributes;
  std::string names(65536, '\0');
  const ssize_t size = listxattr(path.c_str(), names.data(), names.size());
  for (size_t at = 0; size > 0 && at < static_cast<size_t>(size); at += strlen(&names[at]) + 1) {
    std::string value(65536, '\0');
    const ssize_t length = getxattr(path.c_str(), &names[at], value.data(), value.size());
    attributes[&names[at]] = value.substr(0, static_cast<size_t>(std::max<ssize_t>(length, 0)));
  }
  return attributes;
}

// Mounts in a mount namespace of the test's own, so that nothing is seen outside it.
bool MountPrivately(const char* source, const std::string& target, const char* type,
                    unsigned long flags, const char* data) {
  return unshare(CLONE_NEWNS) == 0 &&
         mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) == 0 &&
         mount(source, target.c_str(), type, flags, data) == 0;
}

// The access ACL that `setfacl -m u:nobody:rw` gives a file of mode 0640, as the kernel stores
// it (little-endian): a version, then tag, permissions and user of each entry. The mask, and so
// the mode's group bits, become read and write.
constexpr std::string_view kAclLettingNobodyWrite(
    "\2\0\0\0"
    "\1\0\6\0\xff\xff\xff\xff"     // the owner: rw
    "\2\0\6\0\xfe\xff\0\0"         // user 65534: rw
    "\4\0\4\0\xff\xff\xff\xff"     // the group: r
    "\x10\0\6\0\xff\xff\xff\xff"   // the mask: rw
    "\x20\0\0\0\xff\xff\xff\xff",  // others: nothing
    44);
#else
std::map<std::string, std::string> AttributesOf(const std::string&) {
  return {};
}
#endif

enum class Who { kAnyone, kRoot, kNobody };  // kRoot: makes another user's files; kNobody: saves

struct IdentityCase {
  const char* what;
  Who who;
  std::string ending = "";  // "" when it saves
  // Files and what they hold afterwards; by default the document holds the new text.
  std::map<std::string, std::string> holds = {{"txt/notes.txt", kText}};
  // The file the document leads to keeps its inode; otherwise a saved document is a new file,
  // renamed over the old, so that no moment leaves it half written.
  bool in_place = false;
  std::function<void(TempDir&)> make;
  const char* created = nullptr;  // a name to create instead of saving "notes"
  std::function<void(const TempDir&)> check = nullptr;
  std::string text = kText;  // what is saved
};

// The document, holding "old", with its owner, group and permissions, in a txt/ of this mode.
std::function<void(TempDir&)> Document(uid_t user, gid_t group, mode_t mode, mode_t folder_mode) {
  return [=](TempDir& dir) {
    dir.Write("txt/notes.txt", "old");
    Own(dir, "txt/notes.txt", user, group, mode);
    EXPECT_EQ(chmod(dir.Path("txt").c_str(), folder_mode), 0);
  };
}

// Another user's link from the document to a file only root may read, in a txt/ of this mode.
std::function<void(TempDir&)> LinkedToSecret(mode_t folder_mode) {
  return [=](TempDir& dir) {
    MakeSecret(dir);
    EXPECT_EQ(chmod(dir.Path("txt").c_str(), folder_mode), 0);
    ForeignLink(dir, "../secret", "txt/notes.txt");
  };
}

// A folder outside txt/ and another user's link to it, in the place of `link`.
std::function<void(TempDir&)> LinkedFolder(const char* target, const char* link) {
  return [=](TempDir& dir) {
    std::filesystem::remove(dir.Path(link));
    std::filesystem::create_directory(dir.Path("elsewhere"));
    ForeignLink(dir, target, link);
  };
}

void MakeFifo(TempDir& dir) {
  ASSERT_EQ(mkfifo(dir.Path("txt/notes.txt").c_str(), 0666), 0);
}

// Each case makes txt/notes.txt (or what stands in its place) in a fresh folder, then saves it or
// creates a document, as root or user nobody in a child process; the save keeps what the
// document is: a link stays a link, a FIFO a FIFO, owner, group, permissions and attributes stay,
// and no temporary file is left.
class DocumentIdentity : public testing::Test {
 protected:
  void Run(std::span<const IdentityCase> cases);

  const std::map<std::string, std::string> secret_kept = {{"secret", "root only"}};
  int reader = -1;
  pid_t other_writer = -1;
  std::string unsupported;  // what the system lacks for a case, which is then skipped
};

void DocumentIdentity::Run(std::span<const IdentityCase> cases) {
  int skipped = 0;
  std::string lacking;
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
    if (!unsupported.empty()) {
      lacking += "; \"" + std::string(c.what) + "\" needs " + std::exchange(unsupported, "");
      continue;
    }
    const auto attributes = AttributesOf("txt/notes.txt");
    struct stat name {};  // the document's own name, and the file it leads to
    struct stat file {};
    const bool existed = lstat("txt/notes.txt", &name) == 0 && stat("txt/notes.txt", &file) == 0;
    auto expected = dir.Entries();
    const std::string created = c.created ? c.created : "";
    EXPECT_EQ(EndingInChild(
                  c.who == Who::kNobody,
                  [&] { c.created ? CreateDocument(created) : WriteDocument("notes", c.text); }),
              c.ending);
    LimitFileSize(RLIM_INFINITY);
    if (other_writer > 0) {  // its save is over too
      int status = -1;
      waitpid(std::exchange(other_writer, -1), &status, 0);
      EXPECT_EQ(status, 0);
    }
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
      EXPECT_EQ(AttributesOf("txt/notes.txt"), attributes);
      if (c.in_place) {
        EXPECT_EQ(file_after.st_ino, file.st_ino);
      } else if (c.ending.empty()) {
        EXPECT_NE(file_after.st_ino, file.st_ino);
      }
    }
    if (c.check) c.check(dir);
  }
  if (skipped || !lacking.empty()) {
    GTEST_SKIP() << skipped << " cases need root (they save as or make files of user 65534) and a "
                 << "temporary folder that other users can reach" << lacking;
  }
}

TEST_F(DocumentIdentity, OwnerGroupAndPermissionsStay) {
  const IdentityCase cases[] = {
      {.what = "a new document",
       .who = Who::kAnyone,
       .make = [](TempDir& dir) { dir.Write("reference", ""); },
       .check =
           [](const TempDir& dir) {
             EXPECT_EQ(StatusOf(dir, "txt/notes.txt").st_mode, StatusOf(dir, "reference").st_mode);
           }},
      {.what = "a file of one's own",
       .who = Who::kAnyone,
       .make = Document(geteuid(), getegid(), 0640, 0755)},
      {.what = "a document user nobody may write but not read, in a folder nobody cannot write to",
       .who = Who::kNobody,
       .in_place = true,
       .make = Document(0, 0, 0622, 0755)},
      {.what = "the same, with a file size limit the new text passes: nothing to put back, so "
               "untouched",
       .who = Who::kNobody,
       .ending = kSaveFailed,
       .holds = {{"txt/notes.txt", "old"}},
       .in_place = true,
       .make =
           [&](TempDir& dir) {
             Document(0, 0, 0622, 0755)(dir);
             LimitFileSize(3);  // the save's child inherits it
           }},
#ifdef __linux__
      {.what = "a document user nobody may write but not read, on a full disk: untouched",
       .who = Who::kNobody,
       .ending = kSaveFailed,
       .holds = {{"txt/notes.txt", "old"}},
       .in_place = true,
       .make =
           [&](TempDir& dir) {
             if (!MountPrivately("tmpfs", dir.Path("txt"), "tmpfs", 0, "size=64k,mode=0755")) {
               unsupported = "mounting";
               return;
             }
             Document(0, 0, 0622, 0755)(dir);
             dir.Write("txt/filler", std::string(1 << 20, 'x'));  // as much of it as fits
           },
       .check = [](const TempDir& dir) { umount2(dir.Path("txt").c_str(), MNT_DETACH); },
       .text = std::string(80001, 'n')},
#endif
      {.what = "another user's file",
       .who = Who::kRoot,
       .make = Document(kNobody, kNobody, 0640, 0755)},
      {.what = "a file of nobody's group",
       .who = Who::kNobody,
       .in_place = true,
       .make = Document(0, kNobody, 0664, 01777)},
      {.what = "nobody's own file in nobody's group: a new file takes its place",
       .who = Who::kNobody,
       .make = Document(kNobody, kNobody, 0644, 01777)},
      {.what = "nobody's own file in root's group",
       .who = Who::kNobody,
       .in_place = true,
       .make = Document(kNobody, 0, 0644, 01777)},
      {.what = "nobody's own file, which nobody may write but not read: no copy can take on its "
               "attributes",
       .who = Who::kNobody,
       .in_place = true,
       .make = Document(kNobody, kNobody, 0200, 01777)},
      {.what = "another user's file in a shared sticky folder, at creation",
       .who = Who::kRoot,
       .holds = {{"txt/notes.txt", "old"}},
       .in_place = true,
       .make = Document(kNobody, kNobody, 0644, 01777),
       .created = "notes"},
  };
  Run(cases);
}

#ifdef __linux__
TEST_F(DocumentIdentity, AccessListsAndAttributesStay) {
  const IdentityCase cases[] = {
      {.what = "an access ACL and a user attribute",
       .who = Who::kRoot,
       .make =
           [&](TempDir& dir) {
             Document(geteuid(), getegid(), 0640, 0755)(dir);
             const std::string path = dir.Path("txt/notes.txt");
             const std::string_view acl = kAclLettingNobodyWrite;
             if (setxattr(path.c_str(), "system.posix_acl_access", acl.data(), acl.size(), 0) !=
                     0 ||
                 setxattr(path.c_str(), "user.topic", "diary", 5, 0) != 0) {
               unsupported = "ACLs and user attributes";
             }
           },
       .check =
           [](const TempDir& dir) {
             if (!OthersCanReach(std::filesystem::current_path())) return;
             ASSERT_EQ(seteuid(kNobody), 0);
             EXPECT_EQ(faccessat(AT_FDCWD, dir.Path("txt/notes.txt").c_str(), W_OK, AT_EACCESS), 0);
             ASSERT_EQ(seteuid(0), 0);
           }},
      {.what = "an attribute user nobody may not set, on nobody's own file",
       .who = Who::kNobody,
       .in_place = true,
       .make =
           [&](TempDir& dir) {
             Document(kNobody, kNobody, 0644, 01777)(dir);
             if (setxattr(dir.Path("txt/notes.txt").c_str(), "security.quillomat", "x", 1, 0) !=
                 0) {
               unsupported = "security attributes";
             }
           }},
  };
  Run(cases);
}
#endif

// The file's other names (second hard links, a file bound over the document) hold the new text
// too, and a save in place waits for another writer.
TEST_F(DocumentIdentity, OtherNamesOfTheFileStayAndAnotherWriterIsWaitedFor) {
  const IdentityCase cases[] = {
      {.what = "second hard links, and another run saving in place at the same time",
       .who = Who::kAnyone,
       .holds = {{"txt/notes.txt", kText}, {"txt/copy.txt", kText}, {"outside", kText}},
       .in_place = true,
       .make =
           [&](TempDir& dir) {
             dir.Write("txt/notes.txt", "old");
             std::filesystem::create_hard_link(dir.Path("txt/notes.txt"), dir.Path("txt/copy.txt"));
             std::filesystem::create_hard_link(dir.Path("txt/notes.txt"), dir.Path("outside"));
             // The other run has written its longer text and cuts the file to its length later.
             int written[2];
             ASSERT_EQ(pipe(written), 0);
             other_writer = fork();
             if (other_writer == 0) {
               const std::string_view text = "the other run's longer text";
               const int fd = open(dir.Path("txt/notes.txt").c_str(), O_RDWR);
               if (flock(fd, LOCK_EX) != 0 || write(fd, text.data(), text.size()) < 0) _exit(1);
               close(written[1]);
               std::this_thread::sleep_for(std::chrono::milliseconds(300));
               _exit(ftruncate(fd, static_cast<off_t>(text.size())) == 0 ? 0 : 1);
             }
             close(written[1]);
             char none = 0;
             EXPECT_EQ(read(written[0], &none, 1), 0);
             close(written[0]);
           }},
#ifdef __linux__
      {.what = "a file bound over the document, as containers mount one",
       .who = Who::kRoot,
       .holds = {{"txt/notes.txt", kText}, {"real", kText}},
       .in_place = true,
       .make =
           [&](TempDir& dir) {
             dir.Write("real", "old");
             dir.Write("txt/notes.txt", "");
             if (!MountPrivately(dir.Path("real").c_str(), dir.Path("txt/notes.txt"), nullptr,
                                 MS_BIND, nullptr)) {
               unsupported = "mounting";
             }
           },
       .check = [](const TempDir& dir) { umount2(dir.Path("txt/notes.txt").c_str(), MNT_DETACH); }},
#endif
  };
  Run(cases);
}

TEST_F(DocumentIdentity, DevicesAndFifosAreWrittenInto) {
  const IdentityCase cases[] = {
      {.what = "a link to a device",
       .who = Who::kAnyone,
       .holds = {},
       .in_place = true,
       .make =
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
      {.what = "a FIFO with a reader",
       .who = Who::kAnyone,
       .holds = {},
       .in_place = true,
       .make =
           [&](TempDir& dir) {
             MakeFifo(dir);
             reader = open(dir.Path("txt/notes.txt").c_str(), O_RDONLY | O_NONBLOCK);
           },
       .check =
           [&](const TempDir&) {
             std::string received(100, '\0');
             received.resize(static_cast<size_t>(
                 std::max<ssize_t>(read(reader, received.data(), received.size()), 0)));
             close(reader);
             EXPECT_EQ(received, kText);
           }},
      {.what = "a FIFO nobody reads",
       .who = Who::kAnyone,
       .ending = kSaveFailed,
       .holds = {},
       .in_place = true,
       .make = MakeFifo},
  };
  Run(cases);
}

TEST_F(DocumentIdentity, OnlyTrustedLinksAreFollowed) {
  const IdentityCase cases[] = {
      {.what = "another user's link, at the save",
       .who = Who::kRoot,
       .ending = kSaveFailed,
       .holds = secret_kept,
       .in_place = true,
       .make = LinkedToSecret(01777)},
      {.what = "another user's link, at creation",
       .who = Who::kRoot,
       .ending = kCreateFailed,
       .holds = secret_kept,
       .in_place = true,
       .make = LinkedToSecret(01777),
       .created = "notes"},
      {.what = "one's own link swapped for another user's after creation",
       .who = Who::kRoot,
       .ending = kSaveFailed,
       .holds = {{"secret", "root only"}, {"reference", ""}},
       .in_place = true,
       .make =
           [](TempDir& dir) {
             dir.Write("reference", "");
             std::filesystem::create_symlink("../reference", dir.Path("txt/notes.txt"));
             TestConsole test({}, kNoKeyboard);
             CreateDocument("notes");
             std::filesystem::remove(dir.Path("txt/notes.txt"));
             LinkedToSecret(0777)(dir);
           }},
      {.what = "another user's link to a folder",
       .who = Who::kRoot,
       .ending = kCreateFailed,
       .holds = {},
       .make = LinkedFolder("../elsewhere", "txt/sub"),
       .created = "sub/x"},
      {.what = "txt itself another user's link",
       .who = Who::kRoot,
       .ending = kCreateFailed,
       .holds = {},
       .make = LinkedFolder("elsewhere", "txt"),
       .created = "notes"},
      {.what = "one's own link",
       .who = Who::kAnyone,
       .holds = {{"reference", kText}},
       .make =
           [](TempDir& dir) {
             dir.Write("reference", "old");
             std::filesystem::create_symlink("../reference", dir.Path("txt/notes.txt"));
           }},
  };
  Run(cases);
}

#endif

#ifdef _WIN32
constexpr char kText[] = "the new text";

// The file a path leads to: its volume and index, and how many names it has.
std::pair<std::string, DWORD> FileOf(const std::wstring& path) {
  const HANDLE file = CreateFileW(path.c_str(), FILE_READ_ATTRIBUTES,
                                  FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                  OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  BY_HANDLE_FILE_INFORMATION info{};
  GetFileInformationByHandle(file, &info);
  CloseHandle(file);
  return {std::to_string(info.dwVolumeSerialNumber) + ":" + std::to_string(info.nFileIndexHigh) +
              ":" + std::to_string(info.nFileIndexLow),
          info.nNumberOfLinks};
}

// The access list of a file, with whether it is shut to what its folder would pass on.
std::string AccessListOf(const std::wstring& path) {
  std::vector<BYTE> descriptor(4096);
  DWORD needed = 0;
  PACL dacl = nullptr;
  BOOL present = FALSE, defaulted = FALSE;
  SECURITY_DESCRIPTOR_CONTROL control = 0;
  DWORD revision = 0;
  if (!GetFileSecurityW(path.c_str(), DACL_SECURITY_INFORMATION, descriptor.data(),
                        static_cast<DWORD>(descriptor.size()), &needed) ||
      !GetSecurityDescriptorDacl(descriptor.data(), &present, &dacl, &defaulted) ||
      !GetSecurityDescriptorControl(descriptor.data(), &control, &revision)) {
    return "unreadable";
  }
  const auto* bytes = reinterpret_cast<const char*>(dacl);
  return std::string(control & SE_DACL_PROTECTED ? "protected " : "") +
         (present && dacl ? std::string(bytes, dacl->AclSize) : "no list");
}

// An access list that lets in the user running the tests and no one else.
bool ShutToOthers(const std::wstring& path) {
  HANDLE token = nullptr;
  std::vector<BYTE> user(256);
  DWORD size = 0;
  wchar_t* sid = nullptr;
  if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token) ||
      !GetTokenInformation(token, TokenUser, user.data(), static_cast<DWORD>(user.size()), &size) ||
      !ConvertSidToStringSidW(reinterpret_cast<TOKEN_USER*>(user.data())->User.Sid, &sid)) {
    return false;
  }
  CloseHandle(token);
  const std::wstring sddl = L"D:P(A;;FA;;;" + std::wstring(sid) + L")";
  LocalFree(sid);
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  const bool shut = ConvertStringSecurityDescriptorToSecurityDescriptorW(
                        sddl.c_str(), SDDL_REVISION_1, &descriptor, nullptr) &&
                    SetFileSecurityW(path.c_str(), DACL_SECURITY_INFORMATION, descriptor);
  LocalFree(descriptor);
  return shut;
}

// Runs a Unix command under Wine, which runs no other, and waits until `done` says it has had its
// effect (Wine's start.exe may come back before the command has ended); false when it has not.
bool RunUnixCommand(const std::wstring& command, const std::function<bool()>& done) {
  std::wstring line = L"start.exe /wait /unix " + command;
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION process{};
  if (!CreateProcessW(nullptr, line.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                      &process)) {
    return false;
  }
  WaitForSingleObject(process.hProcess, 10000);
  CloseHandle(process.hProcess);
  CloseHandle(process.hThread);
  for (int waited = 0; waited < 500 && !done(); ++waited) Sleep(10);
  return done();
}

bool Exists(const std::wstring& path) {
  return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

// Whether a new file can be made in txt/.
bool FolderTakesNewFiles() {
  const HANDLE probe = CreateFileW(L"txt\\probe", GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                                   FILE_FLAG_DELETE_ON_CLOSE, nullptr);
  if (probe == INVALID_HANDLE_VALUE) return false;
  CloseHandle(probe);
  return true;
}

// The Unix name of a file under Wine, empty elsewhere.
std::wstring UnixName(const std::wstring& path) {
  using UnixFileName = char*(CDECL*)(const wchar_t*);
  const auto unix_file_name = reinterpret_cast<UnixFileName>(reinterpret_cast<void (*)()>(
      GetProcAddress(GetModuleHandleW(L"kernel32"), "wine_get_unix_file_name")));
  char* const name =
      unix_file_name ? unix_file_name(std::filesystem::absolute(path).c_str()) : nullptr;
  if (!name) return L"";
  const std::wstring wide = std::filesystem::path(name).wstring();
  HeapFree(GetProcessHeap(), 0, name);
  return wide;
}

// A symbolic link, and how to remove it. Wine makes none with CreateSymbolicLinkW, and removes a
// link's target instead of the link; a Unix link is what a document linked from outside Wine is.
std::function<void()> MakeSymbolicLink(const std::wstring& target, const std::wstring& link) {
  if (CreateSymbolicLinkW(link.c_str(), target.c_str(), 0) &&
      GetFileAttributesW(link.c_str()) != INVALID_FILE_ATTRIBUTES) {
    return [link] { DeleteFileW(link.c_str()); };
  }
  std::wstring unix_target = target;
  std::replace(unix_target.begin(), unix_target.end(), L'\\', L'/');
  const std::wstring unix_link = UnixName(link);
  if (unix_link.empty() || !RunUnixCommand(L"/bin/ln -s " + unix_target + L" " + unix_link,
                                           [&] { return Exists(link); })) {
    return nullptr;
  }
  return
      [unix_link, link] { RunUnixCommand(L"/bin/rm " + unix_link, [&] { return !Exists(link); }); };
}

struct WindowsSaveCase {
  const char* what;
  std::function<void()> make;  // txt/notes.txt holds "old" before it
  // Files and what they hold afterwards.
  std::map<std::string, std::string> holds = {{"txt/notes.txt", kText}};
  bool in_place = false;  // txt/notes.txt leads to the same file afterwards
  std::string ending = "";
  std::string text = kText;  // what is saved
};

// A save keeps what the document is: its other names, attributes and access list, the file a link
// leads to; it gets past a reader and a folder that takes no new file, waits for another writer,
// and never leaves a temporary file.
TEST(WriteDocument, KeepsWhatAWindowsDocumentIs) {
  const std::wstring document = L"txt\\notes.txt";
  HANDLE reader = INVALID_HANDLE_VALUE;
  std::thread other_writer;
  std::function<void()> undo;  // what a case made that the folder's removal cannot remove
  std::string unsupported;     // what Wine or the file system lacks for a case, which is skipped
  const WindowsSaveCase cases[] = {
      {.what = "a document of its own", .make = [] {}},
      {.what = "hidden and system", .make = [&] { SetFileAttributesW(document.c_str(), 0x26); }},
      {.what = "an access list shutting everyone else out",
       .make =
           [&] {
             if (!ShutToOthers(document)) unsupported = "access lists";
           }},
      {.what = "second hard links, and another run saving in place at the same time",
       .make =
           [&] {
             CreateHardLinkW(L"txt\\copy.txt", document.c_str(), nullptr);
             CreateHardLinkW(L"outside", document.c_str(), nullptr);
             // The other run has written its longer text and cuts the file to its length later.
             HANDLE written = CreateEventW(nullptr, TRUE, FALSE, nullptr);
             other_writer = std::thread([&document, written] {
               const HANDLE file =
                   CreateFileW(document.c_str(), GENERIC_READ | GENERIC_WRITE,
                               FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                               OPEN_EXISTING, 0, nullptr);
               OVERLAPPED whole{};
               LockFileEx(file, LOCKFILE_EXCLUSIVE_LOCK, 0, MAXDWORD, MAXDWORD, &whole);
               const std::string_view text = "the other run's longer text";
               DWORD count = 0;
               WriteFile(file, text.data(), static_cast<DWORD>(text.size()), &count, nullptr);
               SetEvent(written);
               Sleep(300);
               SetEndOfFile(file);
               CloseHandle(file);
             });
             WaitForSingleObject(written, INFINITE);
             CloseHandle(written);
           },
       .holds = {{"txt/notes.txt", kText}, {"txt/copy.txt", kText}, {"outside", kText}},
       .in_place = true},
      {.what = "a reader holding it open, letting it be written but not renamed",
       .make =
           [&] {
             reader =
                 CreateFileW(document.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                             nullptr, OPEN_EXISTING, 0, nullptr);
           },
       .in_place = true},
      {.what = "a symbolic link",
       .make =
           [&] {
             DeleteFileW(document.c_str());
             std::ofstream("target", std::ios::binary) << "old";
             undo = MakeSymbolicLink(L"..\\target", document);
             if (!undo) unsupported = "symbolic links";
           },
       .holds = {{"target", kText}},
       .in_place = true},
      {.what = "a folder that takes no new file",
       .make =
           [&] {
             const std::wstring folder = UnixName(L"txt");
             if (folder.empty() || !RunUnixCommand(L"/usr/bin/chattr +i " + folder,
                                                   [] { return !FolderTakesNewFiles(); })) {
               unsupported = "an immutable folder (chattr, as root)";
             }
             undo = [folder] {
               RunUnixCommand(L"/usr/bin/chattr -i " + folder, FolderTakesNewFiles);
             };
           },
       .in_place = true},
      {.what = "a full disk, the document with a second link",
       .make =
           [&] {
             // The mount hides what txt/ held.
             const std::wstring folder = UnixName(L"txt");
             if (folder.empty() ||
                 !RunUnixCommand(L"/bin/mount -t tmpfs -o size=64k tmpfs " + folder,
                                 [&] { return !Exists(document); })) {
               unsupported = "mounting a small file system (as root)";
             }
             undo = [folder] {
               RunUnixCommand(L"/bin/umount -l " + folder, [] { return !Exists(L"txt\\filler"); });
             };
             std::ofstream("txt/notes.txt", std::ios::binary) << "old";
             CreateHardLinkW(L"txt\\copy.txt", document.c_str(), nullptr);
             std::ofstream("txt/filler", std::ios::binary) << std::string(1 << 20, 'x');
           },
       .holds = {{"txt/notes.txt", "old"}, {"txt/copy.txt", "old"}},
       .in_place = true,
       .ending = kSaveFailed,
       .text = std::string(80001, 'n')},
      {.what = "a read-only document",
       .make = [&] { SetFileAttributesW(document.c_str(), FILE_ATTRIBUTE_READONLY); },
       .holds = {{"txt/notes.txt", "old"}},
       .in_place = true,
       .ending = kSaveFailed},
  };
  std::string lacking;
  for (const WindowsSaveCase& c : cases) {
    SCOPED_TRACE(c.what);
    WorkingTempDir dir;
    dir.Write("txt/notes.txt", "old");
    c.make();
    if (!unsupported.empty()) {
      lacking += "; \"" + std::string(c.what) + "\" needs " + std::exchange(unsupported, "");
      if (undo) std::exchange(undo, nullptr)();
      continue;
    }
    const DWORD attributes = GetFileAttributesW(document.c_str());
    const std::string access_list = AccessListOf(document);
    const auto file = FileOf(document);
    auto expected = dir.Entries();
    TestConsole test({}, kNoKeyboard);
    const auto ended = EndingOf([&] { WriteDocument("notes", c.text); });
    if (other_writer.joinable()) other_writer.join();
    if (reader != INVALID_HANDLE_VALUE) CloseHandle(std::exchange(reader, INVALID_HANDLE_VALUE));
    EXPECT_EQ(ended ? ended->error_message : "", c.ending);
    EXPECT_EQ(dir.Entries(), expected);  // no temporary file left, nothing made elsewhere
    for (const auto& [path, text] : c.holds) EXPECT_EQ(dir.Read(path), text) << path;
    EXPECT_EQ(GetFileAttributesW(document.c_str()), attributes);
    EXPECT_EQ(AccessListOf(document), access_list);
    EXPECT_EQ(FileOf(document).second, file.second);  // as many names as before
    if (c.in_place) {
      EXPECT_EQ(FileOf(document).first, file.first);
    }
    SetFileAttributesW(document.c_str(), FILE_ATTRIBUTE_NORMAL);  // for the folder's removal
    if (undo) std::exchange(undo, nullptr)();
  }
  if (!lacking.empty()) GTEST_SKIP() << lacking.substr(2);
}
#endif

// Each failure strikes at a different step: making the temporary file, writing it or the document
// itself, renaming it.
TEST(WriteDocument, AFailedSaveEndsWithTheBoxAndKeepsTheOlderDocument) {
  const struct {
    const char* what;
    std::function<void(TempDir&)> make_it_fail;
  } failures[] = {
      {.what = "folder removed",
       .make_it_fail = [](TempDir& dir) { std::filesystem::remove_all(dir.Path("txt")); }},
#ifndef _WIN32
      {.what = "file size limit", .make_it_fail = [](TempDir&) { LimitFileSize(kOlder.size()); }},
      {.what = "file size limit, written in place",
       .make_it_fail =
           [](TempDir& dir) {
             std::filesystem::create_hard_link(dir.Path("txt/diary.txt"), dir.Path("txt/copy.txt"));
             LimitFileSize(kOlder.size());
           }},
#endif
      {.what = "document is a folder",
       .make_it_fail =
           [](TempDir& dir) {
             std::filesystem::remove(dir.Path("txt/diary.txt"));
             std::filesystem::create_directories(dir.Path("txt/diary.txt/inside"));
           }},
  };
  for (const auto& [what, make_it_fail] : failures) {
    SCOPED_TRACE(what);
    WorkingTempDir dir;
    dir.Write("txt/diary.txt", std::string(kOlder));
    TestConsole test({}, kNoKeyboard);
    make_it_fail(dir);
    const auto expected = dir.Entries();
    const auto ended = EndingOf([] { WriteDocument("diary", "a new and longer entry"); });
#ifndef _WIN32
    LimitFileSize(RLIM_INFINITY);
#endif
    ASSERT_TRUE(ended);
    EXPECT_EQ(ended->status, 1);
    EXPECT_EQ(ended->error_message, kSaveFailed);
    EXPECT_EQ(dir.Entries(), expected);
    if (std::filesystem::is_regular_file(dir.Path("txt/diary.txt"))) {
      EXPECT_EQ(dir.Read("txt/diary.txt"), kOlder);
    }
  }
}

}  // namespace
