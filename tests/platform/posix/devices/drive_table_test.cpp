#include "platform/posix/devices/drive_table.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "support/temp_dir.h"

namespace salvatrix::posix {
namespace {

namespace fs = std::filesystem;
using ::testing::ElementsAre;
using ::testing::ElementsAreArray;

// A mountinfo line with the fields the table looks at; root "/" unless a bind mount.
std::string Mount(const std::string& device, const std::string& point, const std::string& type,
                  const std::string& source, const std::string& root = "/") {
  return "40 1 " + device + " " + root + " " + point + " rw,relatime shared:1 - " + type + " " +
         source + " rw\n";
}

std::vector<std::string> LettersAndPoints(const DriveTable& table) {
  std::vector<std::string> points;
  for (const Drive& drive : table.Drives()) {
    points.push_back(std::string(1, drive.letter) + drive.mount_point);
  }
  return points;
}

class DriveTableTest : public ::testing::Test {
 protected:
  ~DriveTableTest() override { fs::remove_all(dir_); }

  void Write(const std::string& text) { std::ofstream(mountinfo_) << text; }
  std::vector<char> Letters() const {
    std::vector<char> letters;
    for (const Drive& drive : table_.Drives()) {
      letters.push_back(drive.letter);
    }
    return letters;
  }
  std::string Raw() {
    std::string raw(table_.GetLogicalDriveStrings(0, nullptr), '\0');
    raw.resize(table_.GetLogicalDriveStrings(static_cast<std::uint32_t>(raw.size()), raw.data()));
    return raw;
  }

  fs::path dir_ = salvatrix::testing::MakeTempDir("salvatrix-drives-");
  std::string mountinfo_ = (dir_ / "mountinfo").string();
  DriveTable table_{mountinfo_, (dir_ / "by-label").string()};
};

const std::string kRoot = Mount("0:50", "/", "overlay", "overlay");

TEST(MountInfoLine, ParsesFieldsAroundAVariableNumberOfOptionalFields) {
  struct Case {
    std::string line;
    MountEntry expected;
  };
  const std::vector<Case> cases = {
      {"36 35 98:0 /mnt1 /mnt2 rw,noatime master:1 - ext3 /dev/root rw,errors=continue",
       {"36", "98:0", "/mnt1", "/mnt2", "ext3", "/dev/root"}},
      {"7 1 8:1 / /media/a rw - vfat /dev/sdb1 rw",
       {"7", "8:1", "/", "/media/a", "vfat", "/dev/sdb1"}},
      {"7 1 8:1 / /x rw shared:2 master:3 propagate_from:4 unbindable - ext4 /dev/sdc rw",
       {"7", "8:1", "/", "/x", "ext4", "/dev/sdc"}},
      {R"(7 1 8:1 /a\040b /m\040y\011t\012n\134b rw - ext4 /dev/disk\040x rw)",
       {"7", "8:1", "/a b", "/m y\tt\nn\\b", "ext4", "/dev/disk x"}},
      // An escaped backslash followed by digits is not decoded a second time.
      {R"(7 1 8:1 / /a\134040 rw - ext4 /dev/sda rw)",
       {"7", "8:1", "/", "/a\\040", "ext4", "/dev/sda"}},
      {"7 1 0:9 / /e rw - tmpfs  rw", {"7", "0:9", "/", "/e", "tmpfs", ""}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.line);
    const auto entry = ParseMountInfoLine(c.line);
    ASSERT_TRUE(entry.has_value());
    EXPECT_EQ(entry->mount_id, c.expected.mount_id);
    EXPECT_EQ(entry->device, c.expected.device);
    EXPECT_EQ(entry->root, c.expected.root);
    EXPECT_EQ(entry->mount_point, c.expected.mount_point);
    EXPECT_EQ(entry->fs_type, c.expected.fs_type);
    EXPECT_EQ(entry->source, c.expected.source);
  }
}

TEST(MountInfoLine, RejectsMalformedLines) {
  for (const char* line :
       {"", "7 1 8:1 / /a rw ext4 /dev/sda rw", "7 1 8:1 / /a rw - ext4 /dev/sda",
        "7 1 8:1 / /a - ext4 /dev/sda rw", "x 1 8:1 / /a rw - ext4 /dev/sda rw",
        "7 1 81 / /a rw - ext4 /dev/sda rw", "7 1 8: / /a rw - ext4 /dev/sda rw",
        "7 1 8:1 / a rw - ext4 /dev/sda rw", "7 1 8:1 / /a rw -  /dev/sda rw"}) {
    SCOPED_TRACE(line);
    EXPECT_FALSE(ParseMountInfoLine(line).has_value());
  }
  EXPECT_EQ(DecodeMountEscapes(R"(\400 \04 \x20 \0)"), R"(\400 \04 \x20 \0)");
}

TEST(MountInfoLine, TellsDrivesFromPseudoFileSystems) {
  struct Case {
    const char* point;
    const char* type;
    const char* source;
    bool drive;
  };
  for (const Case& c : std::vector<Case>{{"/", "overlay", "overlay", true},
                                         {"/media/a", "ext4", "/dev/sdb1", true},
                                         {"/media/w", "fuseblk", "/dev/sdc1", true},
                                         {"/mnt/img", "squashfs", "/dev/loop4", true},
                                         {"/snap/core/17", "squashfs", "/dev/loop3", false},
                                         {"/net", "nfs4", "server:/export", true},
                                         {"/smb", "cifs", "//server/share", true},
                                         {"/ssh", "fuse.sshfs", "me@host:", true},
                                         {"/dev", "devtmpfs", "udev", false},
                                         {"/tmp", "tmpfs", "tmpfs", false},
                                         {"/var/lib/x", "overlay", "overlay", false},
                                         {"/sys/fs/cgroup", "cgroup2", "cgroup2", false},
                                         {"/proc", "proc", "proc", false},
                                         {"/gvfs", "fuse.gvfsd-fuse", "gvfsd-fuse", false}}) {
    SCOPED_TRACE(c.point);
    EXPECT_EQ(IsDriveMount({"1", "0:1", "/", c.point, c.type, c.source}), c.drive);
  }
}

TEST_F(DriveTableTest, ListsRootAsCAndOtherDrivesInTableOrderSkippingMalformedLines) {
  Write(Mount("0:21", "/proc", "proc", "proc") + "garbage line\n" + kRoot +
        Mount("8:17", "/media/stick", "exfat", "/dev/sdb1") +
        Mount("0:60", "/mnt/share", "nfs4", "srv:/export") +
        Mount("7:3", "/snap/core/1", "squashfs", "/dev/loop3"));
  ASSERT_TRUE(table_.Refresh());
  ASSERT_THAT(Letters(), ElementsAre('C', 'D', 'E'));
  EXPECT_EQ(table_.Drives()[1].mount_point, "/media/stick");
  EXPECT_EQ(table_.Drives()[2].mount_point, "/mnt/share");
  EXPECT_EQ(Raw(), std::string("C:\\\0D:\\\0E:\\\0", 12));
}

TEST_F(DriveTableTest, CountsEachDeviceOnceAndPrefersTheWholeFileSystem) {
  Write(Mount("8:1", "/home", "ext4", "/dev/sda1", "/home") +  // the root device, bound first
        Mount("8:17", "/srv/sub", "ext4", "/dev/sdb1", "/sub") +
        Mount("8:33", "/media/b", "vfat", "/dev/sdc1", "/x") +
        Mount("8:1", "/", "ext4", "/dev/sda1") + Mount("8:17", "/media/a", "ext4", "/dev/sdb1") +
        Mount("8:33", "/media/b2", "vfat", "/dev/sdc1", "/y") +
        Mount("8:49", "/media/old", "vfat", "/dev/sdd1") +
        Mount("8:65", "/media/old", "vfat", "/dev/sde1"));  // hides the one before
  ASSERT_TRUE(table_.Refresh());
  EXPECT_THAT(LettersAndPoints(table_), ElementsAre("C/", "D/media/a", "E/media/b", "F/media/old"));
  EXPECT_EQ(table_.Drives()[3].key, "8:65");
}

TEST_F(DriveTableTest, KeepsLettersWhileMountedAndHandsOutTheLowestFreeOne) {
  const std::string a = Mount("8:1", "/a", "ext4", "/dev/a");
  const std::string b = Mount("8:2", "/b", "ext4", "/dev/b");
  const std::string c = Mount("8:3", "/c", "ext4", "/dev/c");
  const std::string d = Mount("8:4", "/d", "ext4", "/dev/d");
  struct Step {
    std::string table;
    std::vector<std::string> expected;  // letter + mount point
  };
  const std::vector<Step> steps = {
      {kRoot + a + b + c, {"C/", "D/a", "E/b", "F/c"}},
      {kRoot + a + b + c, {"C/", "D/a", "E/b", "F/c"}},
      {kRoot + c + a, {"C/", "D/a", "F/c"}},
      {kRoot + d + b + c + a, {"C/", "D/a", "E/d", "F/c", "G/b"}},
      {d + b, {"E/d", "G/b"}},
  };
  for (std::size_t i = 0; i < steps.size(); ++i) {
    SCOPED_TRACE("step " + std::to_string(i));
    Write(steps[i].table);
    ASSERT_TRUE(table_.Refresh());
    EXPECT_THAT(LettersAndPoints(table_), ElementsAreArray(steps[i].expected));
  }
  fs::remove(mountinfo_);
  EXPECT_FALSE(table_.Refresh());
  EXPECT_THAT(Letters(), ElementsAre('E', 'G'));
}

TEST_F(DriveTableTest, LeavesDrivesBeyondZUnlistedUntilALetterIsFreed) {
  const auto drives_from = [](int first) {
    std::string table = kRoot;
    for (int i = first; i < 30; ++i) {
      table += Mount("8:" + std::to_string(i), "/m" + std::to_string(i), "ext4", "/dev/x");
    }
    return table;
  };
  Write(drives_from(0));
  const std::string raw = Raw();
  EXPECT_EQ(raw.size(), 4u * 24u);
  EXPECT_EQ(raw.substr(raw.size() - 4, 3), "Z:\\");
  Write(drives_from(1));
  ASSERT_TRUE(table_.Refresh());
  EXPECT_EQ(table_.Drives()[1].mount_point, "/m23");
  EXPECT_EQ(table_.Drives()[1].letter, 'D');
}

TEST(AssignLetters, NeverHandsOneLetterToTwoDrivesWhateverThePreviousListHolds) {
  const auto drive = [](char letter, const std::string& key, const std::string& point = "/m") {
    return Drive{letter, key, point, "ext4", "/dev/" + key, {}};
  };
  struct Case {
    const char* name;
    std::vector<Drive> previous;
    std::vector<Drive> seen;
    std::string expected;  // letter and key of each drive
  };
  const std::vector<Case> cases = {
      {"a letter held twice",
       {drive('E', "a"), drive('E', "b")},
       {drive(0, "b"), drive(0, "a")},
       "Da Eb"},
      {"one key seen twice", {drive('F', "a")}, {drive(0, "a"), drive(0, "a")}, "Da Fa"},
      {"the root's letter is not carried over by key",
       {drive('C', "a", "/"), drive('D', "b")},
       {drive(0, "a", "/mnt"), drive(0, "b"), drive(0, "c", "/")},
       "Cc Db Ea"},
      {"letters no drive can hold",
       {drive('A', "a"), drive('[', "b"), drive(0, "c")},
       {drive(0, "c"), drive(0, "b"), drive(0, "a")},
       "Dc Eb Fa"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::string letters;
    for (const Drive& d : AssignLetters(c.previous, c.seen)) {
      letters += (letters.empty() ? "" : " ") + std::string(1, d.letter) + d.key;
    }
    EXPECT_EQ(letters, c.expected);
  }
}

TEST_F(DriveTableTest, FollowsTheTwoCallContractOfTheWindowsCall) {
  Write(kRoot + Mount("8:1", "/a", "ext4", "/dev/a"));
  EXPECT_EQ(table_.GetLogicalDriveStrings(0, nullptr), 9u);
  std::string buffer(12, 'x');
  EXPECT_EQ(table_.GetLogicalDriveStrings(8, buffer.data()), 9u);
  EXPECT_EQ(buffer, std::string(12, 'x'));
  EXPECT_EQ(table_.GetLogicalDriveStrings(12, buffer.data()), 8u);
  EXPECT_EQ(buffer, std::string("C:\\\0D:\\\0\0xxx", 12));

  Write(Mount("0:21", "/proc", "proc", "proc"));  // not even "/"
  EXPECT_EQ(table_.GetLogicalDriveStrings(0, nullptr), 1u);
  EXPECT_EQ(table_.GetLogicalDriveStrings(1, buffer.data()), 0u);
  EXPECT_EQ(buffer[0], '\0');

  for (const fs::path& unreadable : {dir_ / "missing", dir_}) {
    SCOPED_TRACE(unreadable.string());
    DriveTable table(unreadable.string());
    EXPECT_EQ(table.GetLogicalDriveStrings(0, nullptr), 0u);
    EXPECT_EQ(table.GetLogicalDriveStrings(12, buffer.data()), 0u);
  }
}

TEST_F(DriveTableTest, ResolvesPathsAsOneLiteralNameUnderTheMountPoint) {
  Write(Mount("8:1", "/", "ext4", "/dev/sda1") +
        Mount("8:17", R"(/media/my\040stick)", "vfat", "/dev/sdb1"));
  ASSERT_TRUE(table_.Refresh());
  const std::vector<std::pair<std::string, std::string>> cases = {
      {R"(D:\file.txt)", "/media/my stick/file.txt"},
      {R"(D:\a\b.txt)", R"(/media/my stick/a\b.txt)"},
      {R"(d:\f)", "/media/my stick/f"},
      {R"(D:\)", "/media/my stick"},
      {R"(C:\etc)", "/etc"},
      {R"(C:\)", "/"},
      {R"(E:\f)", R"(E:\f)"},
      {"D:f", "D:f"},
      {"notes.txt", "notes.txt"},
      {"", ""}};
  for (const auto& [path, expected] : cases) {
    SCOPED_TRACE(path);
    EXPECT_EQ(table_.ResolvePath(path), expected);
  }
}

TEST_F(DriveTableTest, DescribesDrivesWithTheirUdevLabels) {
  fs::create_directories(dir_ / "dev/mapper");
  fs::create_directory(dir_ / "by-label");
  std::ofstream(dir_ / "dev/vda").put('x');
  fs::create_symlink("../vda", dir_ / "dev/mapper/root");
  fs::create_symlink("../dev/vda", dir_ / R"(by-label/ROOT\x2fFS)");
  fs::create_symlink("/dev/null", dir_ / R"(by-label/MY\x20STICK)");
  fs::create_symlink("/dev/full", dir_ / "by-label/WIN");
  std::ofstream(dir_ / "by-label/not-a-link").put('x');
  Write(Mount("254:0", "/", "ext4", (dir_ / "dev/mapper/root").string()) +
        Mount("1:3", "/media/stick", "exfat", "/dev/null") +
        Mount("1:5", "/media/plain", "vfat", "/dev/zero") +
        Mount("1:7", "/media/win", "fuseblk", "/dev/full"));
  ASSERT_TRUE(table_.Refresh());
  const std::vector<std::pair<std::string, std::string>> cases = {
      {R"(C:\)", R"(/ (ext4, label "ROOT/FS"))"},
      {R"(D:\)", R"(/media/stick (exfat, label "MY STICK"))"},
      {R"(E:\)", "/media/plain (vfat)"},
      {R"(F:\)", R"(/media/win (fuseblk, label "WIN"))"},
      {R"(G:\)", ""},
      {"D:", ""}};
  for (const auto& [root, expected] : cases) {
    SCOPED_TRACE(root);
    EXPECT_EQ(table_.DescribeDrive(root), expected);
  }

  fs::remove_all(dir_ / "by-label");
  ASSERT_TRUE(table_.Refresh());
  EXPECT_EQ(table_.DescribeDrive(R"(D:\)"), "/media/stick (exfat)");
}

}  // namespace
}  // namespace salvatrix::posix
