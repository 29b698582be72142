// The parts of the copy engine that keep a hostile stick or a changing source from doing harm,
// each on its own: no-follow resolution, the program's temporaries, name folding, the content
// check.

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <array>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <string>

#include "platform/posix/beneath.h"
#include "platform/posix/copy_engine.h"
#include "platform/posix/stick_fixture.h"
#include "platform/posix/temporaries.h"
#include "platform/posix/transfer.h"
#include "platform/posix/written_entries.h"

namespace salvatrix::posix {
namespace {

namespace fs = std::filesystem;
using testing::kFolderMark;
using testing::kLinkMark;
using testing::kOtherMark;
using testing::LockHolder;
using testing::MakeLinks;
using testing::ReadFile;
using testing::Tree;
using testing::WriteFile;

// The error a case expects; std::errc{} stands for none.
std::error_code Code(std::errc error) {
  return error == std::errc{} ? std::error_code{} : std::make_error_code(error);
}

// A fresh folder below the system's temporary folder, without links on its way.
class SafetyTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string base = (fs::temp_directory_path() / "salvatrix-safety-XXXXXX").string();
    ASSERT_NE(::mkdtemp(base.data()), nullptr);
    dir_ = fs::canonical(base);
  }
  void TearDown() override { fs::remove_all(dir_); }

  Fd OpenFolder(const fs::path& path) {
    return Fd(::open(path.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  }

  fs::path dir_;
};

using BeneathTest = SafetyTest;

TEST_F(BeneathTest, NeverFollowsALinkNorLeavesTheFolder) {
  WriteFile(dir_ / "root/a/b/file", "file");
  WriteFile(dir_ / "outside/file", "outside");
  fs::create_symlink("a", dir_ / "root/folder-link");
  fs::create_symlink("b/file", dir_ / "root/a/file-link");
  fs::create_symlink(dir_ / "outside", dir_ / "root/away");
  const Fd root = OpenFolder(dir_ / "root");
  const struct {
    std::string path;
    int flags;
    std::errc error;  // std::errc{} for success
  } cases[] = {
      {"a/b/file", O_RDONLY, std::errc{}},
      {"a//b/./file", O_RDONLY, std::errc{}},
      {"a/b", O_PATH | O_DIRECTORY, std::errc{}},
      {"folder-link/b/file", O_RDONLY, std::errc::too_many_symbolic_link_levels},
      {"a/file-link", O_RDONLY, std::errc::too_many_symbolic_link_levels},
      {"a/file-link", O_PATH, std::errc::too_many_symbolic_link_levels},
      {"away/file", O_RDONLY, std::errc::too_many_symbolic_link_levels},
      {"../outside/file", O_RDONLY, std::errc::cross_device_link},
      {"a/../../outside/file", O_RDONLY, std::errc::cross_device_link},
      {dir_.string() + "/outside/file", O_RDONLY, std::errc::cross_device_link},
      {"a/missing", O_RDONLY, std::errc::no_such_file_or_directory},
  };
  using Open = std::error_code (*)(int, std::string_view, int, Fd&);
  for (const auto& [way, open] : std::map<std::string, Open>{
           {"openat2", &OpenBeneath}, {"one name at a time", &OpenBeneathByComponents}}) {
    for (const auto& c : cases) {
      SCOPED_TRACE(way + ": " + c.path);
      Fd out;
      const std::error_code error = open(root.get(), c.path, c.flags, out);
      EXPECT_EQ(error, Code(c.error));
      EXPECT_EQ(out.valid(), !error);
    }
  }
}

TEST_F(BeneathTest, AFolderNameHeldByALinkBecomesARealFolderAndTheTargetStaysAsItWas) {
  WriteFile(dir_ / "outside/keep.txt", "keep");
  const fs::path stick = dir_ / "stick";
  fs::create_directories(stick / "Existing");
  WriteFile(stick / "File", "file");
  fs::create_symlink(dir_ / "outside", stick / "Absolute");
  fs::create_symlink("../outside", stick / "Relative");
  fs::create_symlink("nowhere", stick / "Dangling");
  fs::create_symlink("Existing", stick / "Inner");
  const struct {
    std::string name;
    bool made;
    std::errc error;
  } cases[] = {
      {"New", true, std::errc{}},
      {"Existing", false, std::errc{}},
      {"Absolute", true, std::errc{}},
      {"Relative", true, std::errc{}},
      {"Dangling", true, std::errc{}},
      {"Inner", true, std::errc{}},
      {"File", false, std::errc::not_a_directory},
  };
  const Fd parent = OpenFolder(stick);
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    Fd folder;
    bool made = false;
    EXPECT_EQ(OpenOrMakeFolder(parent.get(), c.name.c_str(), 0755, folder, made), Code(c.error));
    if (c.error == std::errc{}) {
      EXPECT_EQ(made, c.made);
      // What is written through the folder lands on the stick, nowhere else.
      ASSERT_EQ(::close(::openat(folder.get(), "written", O_WRONLY | O_CREAT, 0600)), 0);
      EXPECT_TRUE(fs::is_regular_file(fs::symlink_status(stick / c.name / "written")));
    }
  }
  EXPECT_EQ(Tree(dir_ / "outside"), (std::map<std::string, std::string>{{"keep.txt", "keep"}}));
  EXPECT_TRUE(fs::is_regular_file(fs::symlink_status(stick / "File")));
}

using TemporariesTest = SafetyTest;

TEST_F(TemporariesTest, OnlyOurStaleTemporariesGo) {
  const fs::path stick = dir_ / "stick";
  WriteFile(dir_ / "outside.txt", "outside");
  const std::map<std::string, std::string> kept = {
      {".salvatrix-Locked.tmp", "being written by another copy"},
      {".salvatrix-abcdef.tmp.bak", "user"},
      {".salvatrix-abcde.tmp", "user"},
      {".salvatrix-abc_ef.tmp", "user"},
      {"salvatrix-abcdef.tmp", "user"},
      {".Salvatrix-abcdef.tmp", "user"},
      {".salvatrix-Folder.tmp", std::string(kFolderMark)},
      {".salvatrix-Linked.tmp", std::string(kLinkMark)},
      {".salvatrix-Fifo00.tmp", std::string(kOtherMark)},
  };
  for (const auto& [name, content] : kept) {
    if (content == kFolderMark) {
      fs::create_directories(stick / name);
    } else if (content == kLinkMark) {
      fs::create_symlink(dir_ / "outside.txt", stick / name);
    } else if (content == kOtherMark) {
      ASSERT_EQ(::mkfifo((stick / name).c_str(), 0600), 0);
    } else {
      WriteFile(stick / name, content);
    }
  }
  WriteFile(stick / ".salvatrix-Stale0.tmp", "left by a killed copy");
  WriteFile(stick / ".salvatrix-9stale.tmp", "");
  const LockHolder other_copy(stick / ".salvatrix-Locked.tmp");
  ASSERT_TRUE(other_copy.locked());
  // This run's own temporary, as CreateTemporary leaves it while the file is written.
  const Fd folder = OpenFolder(stick);
  Fd ours;
  std::string name;
  ASSERT_FALSE(CreateTemporary(folder.get(), 0644, ours, name));
  EXPECT_TRUE(IsTemporaryName(name)) << name;

  RemoveStaleTemporaries(folder.get());

  std::map<std::string, std::string> expected = kept;
  expected[name] = "";
  EXPECT_EQ(Tree(stick), expected);
  EXPECT_EQ(ReadFile(dir_ / "outside.txt"), "outside");
}

TEST(FoldKeyTest, FoldsLetterCaseOfEveryScriptAndKeepsOtherBytes) {
  const struct {
    std::string a, b;
    bool same;
  } cases[] = {
      {"README.txt", "readme.txt", true},
      {"Photos", "pHOTOS", true},
      {"caf\xc3\xa9", "CAF\xc3\x89", true},                            // é, É
      {"\xce\xb1\xce\xb2", "\xce\x91\xce\x92", true},                  // αβ, ΑΒ
      {"\xd0\xb4\xd0\xbe\xd0\xbc", "\xd0\x94\xd0\x9e\xd0\x9c", true},  // дом, ДОМ
      {"a.txt", "b.txt", false},
      {"caf\xe9", "caf\xc9", false},  // Latin-1 bytes, no UTF-8: kept as they are
      {"\xc0\xaf", "/", false},       // an overlong form is no slash
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.a + " / " + c.b);
    EXPECT_EQ(FoldKey(c.a) == FoldKey(c.b), c.same);
  }
  EXPECT_EQ(FoldKey("caf\xe9"), "CAF\xe9");
}

using WrittenEntriesTest = SafetyTest;

// Two names of one inode stand for what a case-folding kernel filesystem does with README.txt
// and readme.txt; a filesystem that keeps them apart lists both.
TEST_F(WrittenEntriesTest, TellsAnEntryWrittenUnderAnotherNameFromADifferentOne) {
  WriteFile(dir_ / "README.txt", "first");
  fs::create_hard_link(dir_ / "README.txt", dir_ / "readme.txt");
  WriteFile(dir_ / "Other.txt", "other");
  WriteFile(dir_ / "other.txt", "other");
  const Fd folder = OpenFolder(dir_);
  struct stat first {};
  ASSERT_EQ(::stat((dir_ / "README.txt").c_str(), &first), 0);
  for (const bool by_identity : {true, false}) {
    SCOPED_TRACE(by_identity ? "by inode" : "by folded name");
    WrittenEntries written(by_identity);
    written.Add("README.txt", first.st_ino);
    written.Add("Other.txt", first.st_ino + 1);
    std::error_code error;
    EXPECT_FALSE(written.WrittenUnderAnotherName(folder.get(), "README.txt", error));
    // One inode: the same entry. Listed under both names: two entries.
    EXPECT_EQ(written.WrittenUnderAnotherName(folder.get(), "readme.txt", error), by_identity);
    EXPECT_FALSE(written.WrittenUnderAnotherName(folder.get(), "other.txt", error));
    EXPECT_FALSE(error);
  }
}

using CopyContentTest = SafetyTest;

// The source is looked at, then changed, then copied: as if a program saved it right after the
// copy had opened it.
TEST_F(CopyContentTest, ASourceThatChangedSinceItWasOpenedIsRefused) {
  const std::string content(256 * 1024, 'x');
  const timespec kOld{1000000000, 0};
  const struct {
    std::string name;
    std::function<void(const fs::path&)> change;
  } cases[] = {
      {"unchanged", [](const fs::path&) {}},
      {"truncated", [](const fs::path& path) { fs::resize_file(path, 1000); }},
      {"grown", [](const fs::path& path) { std::ofstream(path, std::ios::app) << "more"; }},
      {"rewritten in place",
       [&](const fs::path& path) {
         std::fstream(path, std::ios::in | std::ios::out | std::ios::binary) << "y";
       }},
      {"touched", [](const fs::path& path) { fs::last_write_time(path, fs::file_time_type{}); }},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const fs::path source = dir_ / "source";
    WriteFile(source, content);
    const std::array<timespec, 2> times{kOld, kOld};
    ASSERT_EQ(::utimensat(AT_FDCWD, source.c_str(), times.data(), 0), 0);
    struct stat at_open {};
    ASSERT_EQ(::stat(source.c_str(), &at_open), 0);
    c.change(source);
    const Fd in(::open(source.c_str(), O_RDONLY | O_CLOEXEC));
    const Fd out(::open((dir_ / "copy").c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600));
    const std::error_code error = CopyContent(in.get(), at_open, out.get());
    if (c.name == "unchanged") {
      EXPECT_FALSE(error);
      EXPECT_EQ(ReadFile(dir_ / "copy"), content);
    } else {
      EXPECT_EQ(error, SourceChangedError());
    }
  }
}

using LinkContainmentTest = SafetyTest;

TEST_F(LinkContainmentTest, ALinkLeavingTheCopiedFolderCopiesNothing) {
  const fs::path in = dir_ / "in";
  WriteFile(in / "sub/f.txt", "f");
  WriteFile(dir_ / "next-door/secret.txt", "secret");
  MakeLinks(in, {
                    {"root", "/"},
                    {"etc", "/etc"},
                    {"passwd", "/etc/passwd"},
                    {"up", ".."},
                    {"sibling", "../next-door"},
                    {"sub/secret.txt", "../next-door/secret.txt"},
                    {"inside", "sub"},
                    {"absolute-inside.txt", in / "sub/f.txt"},
                    {"sub/again.txt", "../sub/f.txt"},
                });
  // The folder itself may be reached through a link, as a sub-folder the user selected may be.
  fs::create_symlink(in, dir_ / "selected");

  EXPECT_FALSE(CopyFolder(dir_ / "selected", dir_ / "out", true));
  EXPECT_EQ(Tree(dir_ / "out"), (std::map<std::string, std::string>{
                                    {"absolute-inside.txt", "f"},
                                    {"inside", std::string(kFolderMark)},
                                    {"inside/again.txt", "f"},
                                    {"inside/f.txt", "f"},
                                    {"sub", std::string(kFolderMark)},
                                    {"sub/again.txt", "f"},
                                    {"sub/f.txt", "f"},
                                }));
}

}  // namespace
}  // namespace salvatrix::posix
