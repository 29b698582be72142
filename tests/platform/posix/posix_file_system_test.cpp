#include "platform/posix/posix_file_system.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <set>
#include <string>

#include "platform/failure.h"
#include "platform/posix/drive_table.h"

namespace salvatrix::posix {
namespace {

namespace fs = std::filesystem;

class PosixFileSystemTest : public ::testing::Test {
 protected:
  void SetUp() override {
    base_ = fs::temp_directory_path() /
            ("salvatrix-fs-" + std::to_string(::getpid()) + "-" +
             ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::remove_all(base_);
    fs::create_directories(base_ / "src");
    fs::create_directories(base_ / "stick");
    WriteMountTable(true);
  }
  void TearDown() override { fs::remove_all(base_); }

  void WriteMountTable(bool stick_mounted) {
    std::ofstream table(base_ / "mountinfo");
    table << "1 0 8:1 / / rw - ext4 /dev/sda1 rw\n";
    if (stick_mounted) {
      table << "2 1 8:17 / " << (base_ / "stick").string() << " rw - exfat /dev/sdb1 rw\n";
    }
  }

  static void Write(const fs::path& path, const std::string& text) {
    std::ofstream(path, std::ios::binary) << text;
  }

  static std::set<std::string> Names(Folder& folder, bool files) {
    std::set<std::string> names;
    const auto add = [&names](std::string name) { names.insert(std::move(name)); };
    files ? folder.ForEachFile(add) : folder.ForEachSubFolder(add);
    return names;
  }

  fs::path base_;
  DriveTable drives_{(fs::temp_directory_path() / "unused").string(), "/nonexistent"};
};

TEST_F(PosixFileSystemTest, ListsFilesAndFoldersIncludingLinksButNoSpecialFiles) {
  const fs::path src = base_ / "src";
  Write(src / "a.txt", "a");
  Write(src / std::string("caf\xe9.txt"), "not UTF-8");  // bytes kept as they are
  fs::create_directory(src / "Docs");
  fs::create_symlink(src / "a.txt", src / "link-to-file");
  fs::create_symlink(src / "Docs", src / "link-to-folder");
  fs::create_symlink(src / "missing", src / "dangling");
  ASSERT_EQ(::mkfifo((src / "pipe").c_str(), 0600), 0);

  PosixFileSystem files(drives_);
  const auto folder = files.CreateObject()->GetFolder(src.string());
  EXPECT_EQ(Names(*folder, true),
            (std::set<std::string>{"a.txt", std::string("caf\xe9.txt"), "link-to-file"}));
  EXPECT_EQ(Names(*folder, false), (std::set<std::string>{"Docs", "link-to-folder"}));
}

TEST_F(PosixFileSystemTest, OpeningSomethingThatIsNoFolderFailsWithTheSystemText) {
  Write(base_ / "file", "x");
  PosixFileSystem files(drives_);
  const auto fso = files.CreateObject();
  try {
    fso->GetFolder((base_ / "gone").string());
    FAIL() << "no failure";
  } catch (const Failure& failure) {
    EXPECT_NE(std::string(failure.what()).find("No such file or directory"), std::string::npos);
  }
  EXPECT_THROW(fso->GetFolder((base_ / "file").string()), Failure);
}

TEST_F(PosixFileSystemTest, DriveRootsResolveToTheMountAndAnUnmountedDriveFails) {
  DriveTable drives((base_ / "mountinfo").string(), "/nonexistent");
  ASSERT_TRUE(drives.Refresh());
  Write(base_ / "src" / "a.txt", "payload");
  PosixFileSystem files(drives);
  auto fso = files.CreateObject();
  fso->CopyFile((base_ / "src" / "a.txt").string(), "D:\\a.txt", true);
  fso->CopyFile((base_ / "src" / "a.txt").string(), "D:\\odd\\name.txt", true);
  fso->Flush("D:\\");
  EXPECT_TRUE(fs::exists(base_ / "stick" / "a.txt"));
  EXPECT_TRUE(fs::exists(base_ / "stick" / "odd\\name.txt"));

  // Unplugged after the rescan: the next job's copy must not land in the bare mount point
  // folder. (A job reads the mount table once; a drive pulled during it fails its writes.)
  WriteMountTable(false);
  fso = files.CreateObject();
  EXPECT_THROW(fso->CopyFile((base_ / "src" / "a.txt").string(), "D:\\b.txt", true), Failure);
  EXPECT_THROW(fso->CopyFolder((base_ / "src").string(), "D:\\src", true), Failure);
  EXPECT_FALSE(fs::exists(base_ / "stick" / "b.txt"));
  EXPECT_FALSE(fs::exists(base_ / "stick" / "src"));
}

// A job resolves its drive once and keeps writing beneath the root it opened: nothing re-reads
// the mount table for every item.
TEST_F(PosixFileSystemTest, AJobReadsTheMountTableOnce) {
  DriveTable drives((base_ / "mountinfo").string(), "/nonexistent");
  ASSERT_TRUE(drives.Refresh());
  Write(base_ / "src" / "a.txt", "a");
  PosixFileSystem files(drives);
  auto fso = files.CreateObject();
  fso->CopyFile((base_ / "src" / "a.txt").string(), "D:\\a.txt", true);
  fs::remove(base_ / "mountinfo");
  fso->CopyFile((base_ / "src" / "a.txt").string(), "D:\\b.txt", true);
  fso->CopyFolder((base_ / "src").string(), "D:\\src", true);
  fso->Flush("D:\\");
  EXPECT_TRUE(fs::exists(base_ / "stick" / "b.txt"));
  EXPECT_TRUE(fs::exists(base_ / "stick" / "src" / "a.txt"));
  // The next job cannot read the table and fails before it writes anything.
  fso = files.CreateObject();
  EXPECT_THROW(fso->CopyFile((base_ / "src" / "a.txt").string(), "D:\\c.txt", true), Failure);
  EXPECT_FALSE(fs::exists(base_ / "stick" / "c.txt"));
}

TEST_F(PosixFileSystemTest, SourceDeletedAfterListingFailsAndKeepsTheOldCopy) {
  DriveTable drives((base_ / "mountinfo").string(), "/nonexistent");
  ASSERT_TRUE(drives.Refresh());
  Write(base_ / "src" / "a.txt", "new");
  Write(base_ / "stick" / "a.txt", "old");
  PosixFileSystem files(drives);
  auto fso = files.CreateObject();
  const auto folder = fso->GetFolder((base_ / "src").string());
  EXPECT_EQ(Names(*folder, true), (std::set<std::string>{"a.txt"}));
  fs::remove(base_ / "src" / "a.txt");
  EXPECT_THROW(fso->CopyFile((base_ / "src" / "a.txt").string(), "D:\\a.txt", true), Failure);
  std::ifstream old(base_ / "stick" / "a.txt");
  EXPECT_EQ(std::string(std::istreambuf_iterator<char>(old), {}), "old");
  EXPECT_EQ(std::distance(fs::directory_iterator(base_ / "stick"), fs::directory_iterator()), 1);
}

}  // namespace
}  // namespace salvatrix::posix
