// Hostile sticks and sources that change while they are copied, through the copy job as the
// program runs it: "Copy Files to Drive" on the real drive table and file system, onto exFAT
// (exfat-fuse) and ext4 loop-device sticks. Needs root; the process moves into a mount
// namespace of its own first, so nothing it mounts is seen outside.

#include <fcntl.h>
#include <poll.h>
#include <sched.h>
#include <signal.h>
#include <sys/eventfd.h>
#include <sys/fanotify.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <array>
#include <atomic>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "platform/posix/stick_fixture.h"

namespace salvatrix::posix {
namespace {

namespace fs = std::filesystem;
using testing::kFolderMark;
using testing::kLinkMark;
using testing::LockHolder;
using testing::LoopStick;
using testing::MakeLinks;
using testing::ReadFile;
using testing::StickFormat;
using testing::Tree;
using testing::Window;
using testing::WriteFile;
using testing::WriteFiles;
using Files = std::map<std::string, std::string>;

constexpr std::uintmax_t kStickSize = 32 << 20;
const std::string kFolder(kFolderMark);

// Runs an action when something first reads a file, before that read goes on (a fanotify
// permission event): a change "while the file is copied" then happens at a known point, after
// the copy looked at the file and before it read any of it.
class FirstReadHook {
 public:
  FirstReadHook(const fs::path& file, std::function<void()> action) : action_(std::move(action)) {
    group_ = ::fanotify_init(FAN_CLASS_CONTENT | FAN_CLOEXEC, O_RDONLY | O_CLOEXEC);
    stop_ = ::eventfd(0, EFD_CLOEXEC);
    if (group_ < 0 || stop_ < 0 ||
        ::fanotify_mark(group_, FAN_MARK_ADD, FAN_ACCESS_PERM, AT_FDCWD, file.c_str()) != 0) {
      problem_ = std::string("fanotify: ") + std::strerror(errno);
      return;
    }
    thread_ = std::thread([this] { Listen(); });
  }
  ~FirstReadHook() {
    const std::uint64_t one = 1;
    if (thread_.joinable() && ::write(stop_, &one, sizeof one) == sizeof one) {
      thread_.join();
    }
    ::close(stop_);
    ::close(group_);  // lets every read still waiting go on
  }
  FirstReadHook(const FirstReadHook&) = delete;
  FirstReadHook& operator=(const FirstReadHook&) = delete;

  // Why the hook cannot work here (no permission events in this kernel); empty when it can.
  const std::string& problem() const { return problem_; }
  bool fired() const { return fired_; }

 private:
  void Listen() {
    std::array<pollfd, 2> wait{pollfd{group_, POLLIN, 0}, pollfd{stop_, POLLIN, 0}};
    alignas(fanotify_event_metadata) std::array<char, 4096> buffer{};
    while (::poll(wait.data(), wait.size(), -1) >= 0 && wait[1].revents == 0) {
      const ssize_t got = ::read(group_, buffer.data(), buffer.size());
      for (ssize_t at = 0;
           got > 0 && at + static_cast<ssize_t>(sizeof(fanotify_event_metadata)) <= got;) {
        fanotify_event_metadata event{};
        std::memcpy(&event, buffer.data() + at, sizeof event);
        if ((event.mask & FAN_ACCESS_PERM) != 0) {
          if (!fired_.exchange(true)) {
            action_();
          }
          const fanotify_response allow{event.fd, FAN_ALLOW};
          [[maybe_unused]] const auto written = ::write(group_, &allow, sizeof allow);
        }
        if (event.fd >= 0) {
          ::close(event.fd);
        }
        at += event.event_len;
      }
    }
  }

  std::function<void()> action_;
  int group_ = -1;
  int stop_ = -1;
  std::string problem_;
  std::atomic<bool> fired_{false};
  std::thread thread_;
};

class HostileStickTest : public ::testing::TestWithParam<StickFormat> {
 protected:
  static void SetUpTestSuite() {
    if (::geteuid() == 0 && (::unshare(CLONE_NEWNS) != 0 ||
                             ::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0)) {
      namespace_problem_ = "cannot make a private mount namespace";
    }
  }

  void SetUp() override {
    if (const std::string reason = testing::StickSkipReason(GetParam()); !reason.empty()) {
      GTEST_SKIP() << reason;
    }
    if (!namespace_problem_.empty()) {
      GTEST_SKIP() << namespace_problem_;
    }
    std::string base = (fs::temp_directory_path() / "salvatrix-hostile-XXXXXX").string();
    ASSERT_NE(::mkdtemp(base.data()), nullptr) << std::strerror(errno);
    base_ = fs::canonical(base);  // the mount table shows resolved paths
    source_ = base_ / "source";
    stick_point_ = base_ / "stick";
    fs::create_directories(source_);
    stick_ = std::make_unique<LoopStick>(base_ / "stick.img", GetParam(), base_ / "command.log");
    ASSERT_EQ(stick_->Make(kStickSize), "");
    std::string device;
    ASSERT_EQ(stick_->Attach(device), "");
    ASSERT_EQ(stick_->Mount(device, stick_point_), "");
    mounted_ = true;
    window_ = std::make_unique<Window>(source_);
  }

  void TearDown() override {
    window_.reset();
    if (mounted_ && ::umount2(stick_point_.c_str(), 0) != 0) {
      ::umount2(stick_point_.c_str(), MNT_DETACH);
    }
    stick_.reset();
    if (!base_.empty()) {
      std::error_code ignored;
      fs::remove_all(base_, ignored);
    }
  }

  bool Exfat() const { return GetParam() == StickFormat::kExfat; }

  // The copy job with exactly these files and sub-folders selected; true when it finished.
  bool Copy(const std::vector<std::string>& files, const std::vector<std::string>& folders = {}) {
    return window_->CopyOnto(stick_point_, files, folders);
  }

  // Of two names, the one the job comes to first.
  std::string FirstListed(const ListBox& list, const std::string& a, const std::string& b) {
    for (std::int16_t i = 0; i < list.ListCount(); ++i) {
      if (list.List(i) == a || list.List(i) == b) {
        return list.List(i);
      }
    }
    ADD_FAILURE() << "neither " << a << " nor " << b << " is listed";
    return a;
  }

  static inline std::string namespace_problem_;
  fs::path base_;
  fs::path source_;
  fs::path stick_point_;
  std::unique_ptr<LoopStick> stick_;
  bool mounted_ = false;
  std::unique_ptr<Window> window_;
};

TEST_P(HostileStickTest, LinksOnTheStickAreReplacedNeverFollowed) {
  if (Exfat()) {
    GTEST_SKIP() << "exFAT cannot hold links";
  }
  WriteFile(base_ / "outside/keep.txt", "keep");
  WriteFiles(source_, {
                          {"a.txt", "alpha"},
                          {"Docs/d.txt", "docs"},
                          {"Music/m.txt", "music"},
                          {"Deep/inner/x.txt", "deep"},
                          {"Pics/p.txt", "pics"},
                      });
  // At the top and deeper, absolute and relative, out of the stick and into the source folder.
  fs::create_symlink(base_ / "outside", stick_point_ / "Docs");
  fs::create_symlink("../source/Music", stick_point_ / "Music");
  fs::create_directories(stick_point_ / "Deep");
  MakeLinks(stick_point_, {
                              {"Deep/inner", "../../outside"},
                              {"Pics", source_ / "Pics"},
                              {"a.txt", base_ / "outside/keep.txt"},
                          });

  EXPECT_TRUE(Copy({"a.txt"}, {"Docs", "Music", "Deep", "Pics"}));
  EXPECT_EQ(Tree(stick_point_), (Files{{"a.txt", "alpha"},
                                       {"Deep", kFolder},
                                       {"Deep/inner", kFolder},
                                       {"Deep/inner/x.txt", "deep"},
                                       {"Docs", kFolder},
                                       {"Docs/d.txt", "docs"},
                                       {"Music", kFolder},
                                       {"Music/m.txt", "music"},
                                       {"Pics", kFolder},
                                       {"Pics/p.txt", "pics"}}));
  EXPECT_EQ(Tree(base_ / "outside"), (Files{{"keep.txt", "keep"}}));
  EXPECT_EQ(Tree(source_ / "Music"), (Files{{"m.txt", "music"}}));
  EXPECT_EQ(Tree(source_ / "Pics"), (Files{{"p.txt", "pics"}}));
}

// exFAT folds case: two spellings are one entry, and the job fails rather than let the second
// overwrite the first. ext4 keeps them apart and takes both.
TEST_P(HostileStickTest, TwoSpellingsOfOneEntryFailWhereTheStickFoldsCase) {
  WriteFiles(source_, {
                          {"README.txt", "upper"},
                          {"readme.txt", "lower"},
                          {"Photos/p.txt", "upper"},
                          {"photos/p.txt", "lower"},
                          {"data", "file"},
                          {"DATA/d.txt", "folder"},
                          {"NOTES.txt", "new notes"},
                      });
  WriteFile(stick_point_ / "Notes.txt", "on the stick before");

  // What was on the stick before the job is replaced, as any same-named file is.
  EXPECT_TRUE(Copy({"NOTES.txt"}));
  EXPECT_EQ(ReadFile(stick_point_ / "NOTES.txt"), "new notes");
  if (!Exfat()) {
    EXPECT_TRUE(Copy({"README.txt", "readme.txt", "data"}, {"Photos", "photos", "DATA"}));
    EXPECT_EQ(Tree(stick_point_), (Files{{"DATA", kFolder},
                                         {"DATA/d.txt", "folder"},
                                         {"NOTES.txt", "new notes"},
                                         {"Notes.txt", "on the stick before"},
                                         {"Photos", kFolder},
                                         {"Photos/p.txt", "upper"},
                                         {"README.txt", "upper"},
                                         {"data", "file"},
                                         {"photos", kFolder},
                                         {"photos/p.txt", "lower"},
                                         {"readme.txt", "lower"}}));
    return;
  }
  EXPECT_FALSE(Copy({"README.txt", "readme.txt"}));
  const std::string file = FirstListed(window_->form.List4, "README.txt", "readme.txt");
  EXPECT_FALSE(Copy({}, {"Photos", "photos"}));
  const std::string folder = FirstListed(window_->form.List6, "Photos", "photos");
  EXPECT_FALSE(Copy({"data"}, {"DATA"}));
  EXPECT_EQ(Tree(stick_point_), (Files{{"NOTES.txt", "new notes"},
                                       {file, ReadFile(source_ / file)},
                                       {folder, kFolder},
                                       {folder + "/p.txt", ReadFile(source_ / folder / "p.txt")},
                                       {"data", "file"}}));
}

TEST_P(HostileStickTest, ASourceChangedWhileItIsCopiedIsNotPublished) {
  const std::string content(1 << 20, 'x');
  const struct {
    std::string name;
    std::function<void(const fs::path&)> change;
  } cases[] = {
      {"truncated", [](const fs::path& path) { fs::resize_file(path, 4096); }},
      {"grown", [](const fs::path& path) { std::ofstream(path, std::ios::app) << "more"; }},
      {"rewritten in place",
       [](const fs::path& path) {
         std::fstream(path, std::ios::in | std::ios::out | std::ios::binary) << "saved again";
       }},
  };
  for (const auto& c : cases) {
    for (const bool on_stick_before : {true, false}) {
      SCOPED_TRACE(c.name + (on_stick_before ? ", replacing the old copy" : ", a new file"));
      const fs::path source = source_ / "doc.txt";
      WriteFile(source, content);
      const std::array<timespec, 2> old_times{timespec{1000000000, 0}, timespec{1000000000, 0}};
      ASSERT_EQ(::utimensat(AT_FDCWD, source.c_str(), old_times.data(), 0), 0);
      fs::remove(stick_point_ / "doc.txt");
      Files before;
      if (on_stick_before) {
        WriteFile(stick_point_ / "doc.txt", "the old copy");
        before["doc.txt"] = "the old copy";
      }
      bool copied = true;
      {
        FirstReadHook hook(source, [&] { c.change(source); });
        if (!hook.problem().empty()) {
          GTEST_SKIP() << hook.problem();
        }
        copied = Copy({"doc.txt"});
        EXPECT_TRUE(hook.fired());
      }
      EXPECT_FALSE(copied);
      EXPECT_EQ(Tree(stick_point_), before);
    }
  }
}

TEST_P(HostileStickTest, LinksLeavingACopiedFolderCopyNothing) {
  WriteFile(source_ / "Tree/sub/f.txt", "f");
  MakeLinks(source_ / "Tree", {
                                  {"root", "/"},
                                  {"etc", "/etc"},
                                  {"shadow", "/etc/shadow"},
                                  {"sub/up", "../.."},
                                  {"inside", "sub"},
                              });
  // A selected sub-folder that is itself a link is copied as the list shows it.
  WriteFile(base_ / "elsewhere/e.txt", "e");
  fs::create_symlink(base_ / "elsewhere", source_ / "Linked");

  EXPECT_TRUE(Copy({}, {"Tree", "Linked"}));
  EXPECT_EQ(Tree(stick_point_), (Files{{"Linked", kFolder},
                                       {"Linked/e.txt", "e"},
                                       {"Tree", kFolder},
                                       {"Tree/inside", kFolder},
                                       {"Tree/inside/f.txt", "f"},
                                       {"Tree/sub", kFolder},
                                       {"Tree/sub/f.txt", "f"}}));
}

TEST_P(HostileStickTest, StaleTemporariesGoWhileLockedOnesAndLookAlikesStay) {
  WriteFiles(source_, {
                          {"a.txt", "alpha"},
                          {"Docs/d.txt", "docs"},
                          {"big.bin", std::string(4 << 20, 'n')},
                      });
  WriteFile(stick_point_ / "big.bin", "the old big file");

  // A copy killed while it replaces big.bin. Where the stick has no unnamed files (exFAT) it
  // leaves its temporary; the old file stays either way.
  int go[2];
  ASSERT_EQ(::pipe(go), 0);
  const pid_t killed = ::fork();
  if (killed == 0) {
    char ignored = 0;
    ::close(go[1]);
    if (::read(go[0], &ignored, 1) == 1) {
      Window window(source_);
      window.CopyOnto(stick_point_, {"big.bin"}, {});
    }
    ::_exit(0);
  }
  ::close(go[0]);
  {
    FirstReadHook hook(source_ / "big.bin", [killed] { ::kill(killed, SIGKILL); });
    if (!hook.problem().empty()) {
      ::kill(killed, SIGKILL);
      ::waitpid(killed, nullptr, 0);
      GTEST_SKIP() << hook.problem();
    }
    ASSERT_EQ(::write(go[1], "y", 1), 1);
    int status = 0;
    ASSERT_EQ(::waitpid(killed, &status, 0), killed);
    EXPECT_TRUE(WIFSIGNALED(status));
  }
  ::close(go[1]);
  Files after_kill = Tree(stick_point_);
  EXPECT_EQ(after_kill["big.bin"], "the old big file");
  EXPECT_EQ(after_kill.size(), Exfat() ? 2u : 1u);

  // What the killed copy left, made by hand in a folder too; one another copy still writes;
  // and a user's files that only look like ours.
  WriteFile(stick_point_ / ".salvatrix-Stale0.tmp", "stale");
  WriteFile(stick_point_ / "Docs/.salvatrix-Stale1.tmp", "stale");
  const Files look_alikes = {{".salvatrix-Locked.tmp", "another copy writes this"},
                             {".salvatrix-abcde.tmp", "user"},
                             {"salvatrix-abcdef.tmp", "user"},
                             {".salvatrix-abcdef.tmp.txt", "user"},
                             {".salvatrix-Folder.tmp", kFolder},
                             {"Docs/.salvatrix-Folder.tmp", kFolder}};
  for (const auto& [name, content] : look_alikes) {
    content == kFolder ? (void)fs::create_directories(stick_point_ / name)
                       : WriteFile(stick_point_ / name, content);
  }
  Files expected = look_alikes;
  if (!Exfat()) {
    fs::create_symlink(base_ / "outside.txt", stick_point_ / ".salvatrix-Linked.tmp");
    WriteFile(base_ / "outside.txt", "outside");
    expected[".salvatrix-Linked.tmp"] = std::string(kLinkMark);
  }
  const LockHolder other_copy(stick_point_ / ".salvatrix-Locked.tmp");
  ASSERT_TRUE(other_copy.locked());

  EXPECT_TRUE(Copy({"a.txt"}, {"Docs"}));
  expected.insert({{"a.txt", "alpha"},
                   {"big.bin", "the old big file"},
                   {"Docs", kFolder},
                   {"Docs/d.txt", "docs"}});
  EXPECT_EQ(Tree(stick_point_), expected);
}

// Judged per pair by the stick's own rule: exFAT's table keeps I and ı apart, so both land, and
// that says nothing about Docs and docs, which it folds. ext4 keeps every spelling apart.
TEST_P(HostileStickTest, CaseClashesAreJudgedPerPairByTheSticksOwnRule) {
  WriteFiles(source_, {
                          {"I.txt", "dotted"},
                          {"\xC4\xB1.txt", "dotless"},
                          {"Docs/report.txt", "upper"},
                          {"docs/report.txt", "lower"},
                      });
  EXPECT_TRUE(Copy({"I.txt", "\xC4\xB1.txt"}));
  EXPECT_EQ(Copy({"I.txt", "\xC4\xB1.txt"}, {"Docs", "docs"}), !Exfat());
  Files expected = {{"I.txt", "dotted"}, {"\xC4\xB1.txt", "dotless"}};
  const std::string first = FirstListed(window_->form.List6, "Docs", "docs");
  for (const std::string& folder :
       Exfat() ? std::vector{first} : std::vector<std::string>{"Docs", "docs"}) {
    expected[folder] = kFolder;
    expected[folder + "/report.txt"] = ReadFile(source_ / folder / "report.txt");
  }
  EXPECT_EQ(Tree(stick_point_), expected);
}

// Two programs copy big.bin onto one stick. While the first reads its source, the second
// replaces the file and finishes; then the first one's source changes and it fails: the second
// one's file stays.
TEST_P(HostileStickTest, AFailingCopyNeverRemovesAnotherCopysFile) {
  WriteFile(source_ / "big.bin", std::string(1 << 20, 'a'));
  WriteFile(base_ / "other/big.bin", std::string(1 << 20, 'b'));
  Window other(base_ / "other");
  bool other_finished = false;
  {
    FirstReadHook hook(source_ / "big.bin", [&] {
      other_finished = other.CopyOnto(stick_point_, {"big.bin"}, {});
      std::ofstream(source_ / "big.bin", std::ios::app) << "saved again";
    });
    if (!hook.problem().empty()) {
      GTEST_SKIP() << hook.problem();
    }
    EXPECT_FALSE(Copy({"big.bin"}));
  }
  EXPECT_TRUE(other_finished);
  EXPECT_EQ(Tree(stick_point_), (Files{{"big.bin", std::string(1 << 20, 'b')}}));
}

// The program on the stick it copies onto, and another file system mounted on the stick.
TEST_P(HostileStickTest, NeverWritesIntoItsOwnSourceNorIntoAnotherFileSystem) {
  WriteFiles(stick_point_, {
                               {"a.txt", "a"},
                               {".salvatrix-AbCdEf.tmp", "the user's"},
                               {"Docs/d.txt", "d"},
                               {"sub/a.txt", "the user's"},
                               {"sub/sub/a.txt", "inner"},
                           });
  const Files before = Tree(stick_point_);
  // At the stick's root every item is its own target: left as it is, and the job finishes.
  Window at_root(stick_point_);
  EXPECT_TRUE(at_root.CopyOnto(stick_point_, {"a.txt", ".salvatrix-AbCdEf.tmp"}, {"Docs"}));
  // In sub, whose sub-folder sub would be copied onto sub itself.
  Window in_sub(stick_point_ / "sub");
  EXPECT_FALSE(in_sub.CopyOnto(stick_point_, {}, {"sub"}));
  EXPECT_EQ(Tree(stick_point_), before);

  WriteFile(source_ / "Other/o.txt", "ours");
  WriteFile(source_ / "Mounted.txt", "ours");
  fs::create_directories(stick_point_ / "Other");
  WriteFile(stick_point_ / "Mounted.txt", "");
  WriteFile(base_ / "outside.txt", "theirs");
  if (::mount("tmpfs", (stick_point_ / "Other").c_str(), "tmpfs", 0, "size=1m") != 0 ||
      ::mount((base_ / "outside.txt").c_str(), (stick_point_ / "Mounted.txt").c_str(), nullptr,
              MS_BIND, nullptr) != 0) {
    GTEST_SKIP() << "cannot mount onto the stick: " << std::strerror(errno);
  }
  WriteFile(stick_point_ / "Other/o.txt", "theirs");
  EXPECT_FALSE(Copy({}, {"Other"}));
  EXPECT_FALSE(Copy({"Mounted.txt"}));
  EXPECT_EQ(ReadFile(stick_point_ / "Other/o.txt"), "theirs");
  EXPECT_EQ(ReadFile(base_ / "outside.txt"), "theirs");
  ::umount2((stick_point_ / "Mounted.txt").c_str(), MNT_DETACH);
  ::umount2((stick_point_ / "Other").c_str(), MNT_DETACH);
}

INSTANTIATE_TEST_SUITE_P(Sticks, HostileStickTest,
                         ::testing::Values(StickFormat::kExfat, StickFormat::kExt4),
                         [](const auto& info) {
                           return info.param == StickFormat::kExfat ? "Exfat" : "Ext4";
                         });

}  // namespace
}  // namespace salvatrix::posix
