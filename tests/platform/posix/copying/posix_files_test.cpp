// The copy rules over the Linux primitives on real files: what only the system can show (modes,
// times, links, FIFOs, limits, kernel files, unprivileged naming, drive roots through the
// mount table, real exFAT devices).

#include "platform/posix/copying/posix_files.h"

#include <fcntl.h>
#include <sched.h>
#include <sys/mount.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <array>
#include <chrono>
#include <csignal>
#include <cstring>
#include <fstream>
#include <functional>
#include <future>
#include <optional>
#include <random>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "copy/policy/copy_policy.h"
#include "copy/policy/name_keys.h"
#include "platform/posix/devices/drive_table.h"
#include "platform/posix/stick_fixture.h"
#include "support/temp_dir.h"

namespace salvatrix::posix {
namespace {

namespace fs = std::filesystem;
using ::testing::ElementsAre;
using ::testing::HasSubstr;
using ::testing::IsEmpty;

class TempDir final : public salvatrix::testing::TempDir {
 public:
  explicit TempDir(const fs::path& base = fs::temp_directory_path())
      : salvatrix::testing::TempDir("salvatrix-copy-", base) {}
};

void Write(const fs::path& path, const std::string& text) {
  fs::create_directories(path.parent_path());
  std::ofstream(path, std::ios::binary) << text;
}

std::string Read(const fs::path& path) {
  std::ostringstream text;
  text << std::ifstream(path, std::ios::binary).rdbuf();
  return text.str();
}

std::string Bytes(std::size_t size) {
  std::mt19937 random{42};
  std::string bytes(size, '\0');
  for (char& byte : bytes) {
    byte = static_cast<char>(random());
  }
  return bytes;
}

struct stat Stat(const fs::path& path) {
  struct stat status {};
  EXPECT_EQ(::stat(path.c_str(), &status), 0) << path;
  return status;
}

// Everything below root, folders with a trailing "/", what is neither file nor folder with "@".
std::vector<std::string> Names(const fs::path& root) {
  std::vector<std::string> names;
  for (const auto& entry : fs::recursive_directory_iterator(root)) {
    const auto type = entry.symlink_status().type();
    names.push_back(entry.path().lexically_relative(root).string() +
                    (type == fs::file_type::directory ? "/"
                     : type == fs::file_type::regular ? ""
                                                      : "@"));
  }
  std::sort(names.begin(), names.end());
  return names;
}

std::vector<std::string> Temporaries(const fs::path& root) {
  std::vector<std::string> found;
  for (const std::string& name : Names(root)) {
    if (name.find(".salvatrix-") != std::string::npos) {
      found.push_back(name);
    }
  }
  return found;
}

// What a copy came to: empty when it copied, else the failure's text.
using Outcome = std::string;

// One job's file-system object, as the program makes it, over the mount table mountinfo.
class Files {
 public:
  explicit Files(const std::string& mountinfo = "/nonexistent")
      : drives_(mountinfo, "/nonexistent"), primitives_(drives_), policy_(primitives_) {
    drives_.Refresh();
  }

  FileSystemObject& Job() {
    if (!job_) {
      job_ = policy_.CreateObject();
    }
    return *job_;
  }
  void NextJob() { job_.reset(); }

  Outcome CopyFile(const fs::path& from, const std::string& to, bool overwrite = true) {
    return Run([&] { Job().CopyFile(from.string(), to, overwrite); });
  }
  Outcome CopyFolder(const fs::path& from, const std::string& to, bool overwrite = true) {
    return Run([&] { Job().CopyFolder(from.string(), to, overwrite); });
  }
  Outcome Flush(const std::string& root) {
    return Run([&] { Job().Flush(root); });
  }

 private:
  static Outcome Run(const std::function<void()>& copy) {
    try {
      copy();
      return {};
    } catch (const Failure& failure) {
      return failure.what();
    }
  }

  DriveTable drives_;
  PosixFiles primitives_;
  CopyPolicy policy_;
  std::unique_ptr<FileSystemObject> job_;
};

// Runs copy on another thread. Should it hang on the FIFO, the FIFO gets a writer that leaves
// at once, so that the test fails instead of hanging.
Outcome RunUnlessHung(const std::function<Outcome()>& copy, const fs::path& fifo) {
  auto result = std::async(std::launch::async, copy);
  if (result.wait_for(std::chrono::seconds(10)) == std::future_status::timeout) {
    ADD_FAILURE() << "the copy opened " << fifo << " and waited for a writer";
    ::close(::open(fifo.c_str(), O_WRONLY | O_NONBLOCK));
  }
  return result.get();
}

void SetTimes(const fs::path& path, timespec access, timespec modification) {
  const std::array<timespec, 2> times{access, modification};
  ASSERT_EQ(::utimensat(AT_FDCWD, path.c_str(), times.data(), 0), 0);
}

TEST(PosixFilesTest, KeepsContentTimesAndPermissionBitsWithoutSetId) {
  const struct {
    mode_t source;
    mode_t copy;
  } cases[] = {{0640, 0640}, {0755, 0755}, {04755, 0755}, {02700, 0700}};
  TempDir dir;
  Files files;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.source);
    Write(dir / "in", "content\n");
    ASSERT_EQ(::chmod((dir / "in").c_str(), c.source), 0);
    SetTimes(dir / "in", {1000000000, 123}, {1200000000, 456789});

    EXPECT_EQ(files.CopyFile(dir / "in", (dir / "out").string()), "");
    const struct stat copy = Stat(dir / "out");
    EXPECT_EQ(Read(dir / "out"), "content\n");
    EXPECT_EQ(copy.st_mode & 07777, c.copy);
    EXPECT_EQ(copy.st_mtim.tv_sec, 1200000000);
    EXPECT_EQ(copy.st_mtim.tv_nsec, 456789);
    EXPECT_EQ(copy.st_atim.tv_sec, 1000000000);
  }
  EXPECT_THAT(Temporaries(dir.path()), IsEmpty());
}

TEST(PosixFilesTest, ReplacesLinksAndFifosWithoutFollowingOrOpeningThem) {
  TempDir dir;
  Files files;
  Write(dir / "in", "new");
  Write(dir / "target", "target");
  fs::create_symlink("target", dir / "link");
  ASSERT_EQ(::mkfifo((dir / "fifo").c_str(), 0600), 0);
  fs::create_directory(dir / "folder-target");
  fs::create_symlink("folder-target", dir / "folder-link");
  Write(dir / "tree/a", "a");
  for (const char* name : {"link", "fifo"}) {
    EXPECT_EQ(RunUnlessHung([&] { return files.CopyFile(dir / "in", (dir / name).string()); },
                            dir / "fifo"),
              "");
    EXPECT_EQ(Read(dir / name), "new");
  }
  // A link where a folder goes becomes a real folder; its target gets nothing.
  EXPECT_EQ(files.CopyFolder(dir / "tree", (dir / "folder-link").string()), "");
  EXPECT_EQ(Read(dir / "target"), "target");
  EXPECT_TRUE(fs::is_empty(dir / "folder-target"));
  EXPECT_EQ(Read(dir / "folder-link/a"), "a");
  EXPECT_THAT(Temporaries(dir.path()), IsEmpty());
}

TEST(PosixFilesTest, RefusesWhatIsNotAFileAndLeavesNothing) {
  TempDir dir;
  Files files;
  Write(dir / "file", "data");
  Write(dir / "folder/inside", "inside");
  ASSERT_EQ(::mkfifo((dir / "fifo").c_str(), 0600), 0);
  fs::create_symlink("fifo", dir / "fifo-link");
  const struct {
    std::string source, destination, says;
  } cases[] = {
      {"folder", "out", "it is a folder"},
      {"fifo", "out", "no regular file"},
      {"fifo-link", "out", "no regular file"},
      {"missing", "out", "No such file or directory"},
      {"file", "folder", "a folder stands where the file goes"},
      {"file", "folder/", "a folder stands where the file goes"},
      {"file", "no-such-folder/out", "No such file or directory"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.source + " -> " + c.destination);
    const Outcome outcome = RunUnlessHung(
        [&] { return files.CopyFile(dir / c.source, (dir / c.destination).string()); },
        dir / "fifo");
    EXPECT_THAT(outcome, HasSubstr(c.says));
  }
  EXPECT_THAT(Names(dir.path()),
              ElementsAre("fifo-link@", "fifo@", "file", "folder/", "folder/inside"));
}

// A limit on file size (as root, permissions stop nothing) and a kernel file that fails to read
// break a copy half-way, after the file was made.
TEST(PosixFilesTest, FailureHalfWayKeepsTheOldFileAndLeavesNothing) {
  TempDir dir;
  Files files;
  Write(dir / "big", Bytes(3 << 20));
  const struct {
    fs::path source;
    std::string says;
    std::optional<rlim_t> size_limit;
  } cases[] = {
      {dir / "big", "File too large", 1 << 20},
      {"/proc/self/mem", "Input/output error", std::nullopt},
  };
  for (const bool existed : {true, false}) {
    for (const auto& c : cases) {
      SCOPED_TRACE(c.source.string() + (existed ? " over an old file" : " as a new file"));
      fs::remove(dir / "out");
      if (existed) {
        Write(dir / "out", "old");
      }
      rlimit saved{};
      ASSERT_EQ(::getrlimit(RLIMIT_FSIZE, &saved), 0);
      const auto old_handler = std::signal(SIGXFSZ, SIG_IGN);
      if (c.size_limit) {
        const rlimit limited{*c.size_limit, saved.rlim_max};
        ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &limited), 0);
      }
      const Outcome outcome = files.CopyFile(c.source, (dir / "out").string());
      ::setrlimit(RLIMIT_FSIZE, &saved);
      std::signal(SIGXFSZ, old_handler);

      EXPECT_THAT(outcome, HasSubstr(c.says));
      EXPECT_EQ(fs::exists(dir / "out"), existed);
      if (existed) {
        EXPECT_EQ(Read(dir / "out"), "old");
      }
      EXPECT_THAT(Temporaries(dir.path()), IsEmpty());
    }
  }
}

// Before Linux 6.10 only root can name an unnamed temporary directly; anyone else goes through
// /proc.
TEST(PosixFilesTest, CopiesAndReplacesWithoutPrivileges) {
  if (::geteuid() != 0) {
    GTEST_SKIP() << "already unprivileged, as in every other test";
  }
  constexpr uid_t kNobody = 65534;
  TempDir dir;
  Write(dir / "in", "data");
  ASSERT_EQ(::chown(dir.path().c_str(), kNobody, kNobody), 0);
  const pid_t child = ::fork();
  if (child == 0) {
    bool copied =
        ::setresgid(kNobody, kNobody, kNobody) == 0 && ::setresuid(kNobody, kNobody, kNobody) == 0;
    Files files;
    copied = copied && files.CopyFile(dir / "in", (dir / "out").string(), false).empty() &&
             files.CopyFile(dir / "in", (dir / "out").string()).empty() &&
             Read(dir / "out") == "data";
    ::_exit(copied ? 0 : 1);
  }
  int status = 0;
  ASSERT_EQ(::waitpid(child, &status, 0), child);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  EXPECT_THAT(Names(dir.path()), ElementsAre("in", "out"));
}

TEST(PosixFilesTest, CopiesBigFilesAndKernelFilesWithoutSize) {
  TempDir dir;
  Files files;
  // Another file system, where copy_file_range gives way to sendfile.
  std::optional<TempDir> shm;
  if (::access("/dev/shm", W_OK) == 0) {
    shm.emplace("/dev/shm");
  }
  const std::string big = Bytes(24 << 20);
  Write(dir / "big", big);
  for (const TempDir* to : {&dir, shm ? &*shm : nullptr}) {
    if (to == nullptr) {
      continue;
    }
    SCOPED_TRACE(to->path());
    EXPECT_EQ(files.CopyFile(dir / "big", (*to / "copy").string()), "");
    EXPECT_TRUE(Read(*to / "copy") == big);
  }
  // procfs says 0 bytes; copy_file_range then copies nothing.
  EXPECT_EQ(files.CopyFile("/proc/self/status", (dir / "status").string()), "");
  EXPECT_THAT(Read(dir / "status"), ::testing::StartsWith("Name:"));
}

TEST(PosixFilesTest, CopiesATreeFollowingOnlyLinksThatStayInsideWithoutLooping) {
  TempDir dir;
  Files files;
  const fs::path in = dir / "in";
  Write(in / "a.txt", "a");
  Write(in / "sub/b.txt", "b");
  Write(in / "sub/deep/c.txt", "c");
  Write(dir / "next-door/secret.txt", "secret");
  fs::create_directories(in / "empty/emptier");
  fs::create_symlink("sub/b.txt", in / "file-link");
  fs::create_symlink(in / "sub", in / "folder-link");
  fs::create_symlink("nowhere", in / "dangling");
  fs::create_symlink("../..", in / "sub/deep/up");  // back to the top
  fs::create_symlink(".", in / "sub/self");
  fs::create_symlink("/etc", in / "etc");
  fs::create_symlink("../next-door/secret.txt", in / "secret.txt");
  ASSERT_EQ(::mkfifo((in / "sub/fifo").c_str(), 0600), 0);
  fs::create_symlink("fifo", in / "sub/fifo-link");
  // The folder itself may be reached through a link, as a sub-folder the user selected may be.
  fs::create_symlink(in, dir / "selected");

  EXPECT_EQ(
      RunUnlessHung([&] { return files.CopyFolder(dir / "selected", (dir / "out").string()); },
                    in / "sub/fifo"),
      "");
  EXPECT_THAT(Names(dir / "out"),
              ElementsAre("a.txt", "empty/", "empty/emptier/", "file-link", "folder-link/",
                          "folder-link/b.txt", "folder-link/deep/", "folder-link/deep/c.txt",
                          "sub/", "sub/b.txt", "sub/deep/", "sub/deep/c.txt"));
  EXPECT_EQ(Read(dir / "out/file-link"), "b");
  // A target inside the copied folder would never end: refused before it is made.
  EXPECT_THAT(files.CopyFolder(in, (in / "sub/copy").string()), HasSubstr("inside"));
  EXPECT_FALSE(fs::exists(in / "sub/copy"));
}

// The fold rule for exFAT sticks is the table their formatter wrote: read back from an image
// mkfs.exfat made, every one of the 65,536 units must come out as the table says.
TEST(ExfatUpcaseTest, TheRuleIsTheTableMkfsExfatWrites) {
  const std::string mkfs = testing::FindTool("mkfs.exfat");
  if (mkfs.empty()) {
    GTEST_SKIP() << "mkfs.exfat is not installed";
  }
  TempDir dir;
  std::ofstream(dir / "image").close();
  fs::resize_file(dir / "image", 8 << 20);
  ASSERT_EQ(testing::RunTool({mkfs, (dir / "image").string()}, dir / "log").status, 0);
  const std::string image = Read(dir / "image");
  const auto u32 = [&](std::size_t at) {
    std::uint32_t value = 0;
    std::memcpy(&value, image.data() + at, sizeof value);
    return value;
  };
  // The boot sector gives the cluster heap and the root folder; the root folder's up-case
  // table entry (type 0x82) gives the table's first cluster and size.
  const std::size_t cluster = std::size_t{1} << (image[108] + image[109]);
  const auto at_cluster = [&](std::uint32_t n) {
    return std::size_t{u32(88)} * (std::size_t{1} << image[108]) + (n - 2) * cluster;
  };
  std::size_t table = 0;
  std::size_t bytes = 0;
  for (std::size_t entry = at_cluster(u32(96)); entry < at_cluster(u32(96)) + cluster;
       entry += 32) {
    if (static_cast<unsigned char>(image[entry]) == 0x82) {
      table = at_cluster(u32(entry + 20));
      bytes = u32(entry + 24);
    }
  }
  ASSERT_GT(bytes, 0u);
  // Compressed: 0xFFFF followed by a count stands for that many units that map to themselves.
  std::vector<char16_t> map;
  for (std::size_t at = 0; at + 1 < bytes; at += 2) {
    char16_t unit = 0;
    std::memcpy(&unit, image.data() + table + at, sizeof unit);
    if (unit == 0xFFFF && at + 3 < bytes) {
      char16_t run = 0;
      std::memcpy(&run, image.data() + table + at + 2, sizeof run);
      for (char16_t i = 0; i < run; ++i) {
        map.push_back(static_cast<char16_t>(map.size()));
      }
      at += 2;
    } else {
      map.push_back(unit);
    }
  }
  ASSERT_EQ(map.size(), 65536u);
  int wrong = 0;
  for (std::size_t unit = 0; unit < map.size(); ++unit) {
    if (UpcaseUnit(static_cast<char16_t>(unit)) != map[unit] && ++wrong < 5) {
      ADD_FAILURE() << std::hex << "U+" << unit << " gives "
                    << int{UpcaseUnit(static_cast<char16_t>(unit))} << ", the stick "
                    << int{map[unit]};
    }
  }
  EXPECT_EQ(wrong, 0);
}

class PosixDriveTest : public ::testing::Test {
 protected:
  void SetUp() override {
    fs::create_directories(dir_ / "src");
    fs::create_directories(dir_ / "stick");
    WriteMountTable(true);
  }

  void WriteMountTable(bool stick_mounted) {
    std::ofstream table(dir_ / "mountinfo");
    table << "1 0 8:1 / / rw - ext4 /dev/sda1 rw\n";
    if (stick_mounted) {
      table << "2 1 8:17 / " << (dir_ / "stick").string() << " rw - exfat /dev/sdb1 rw\n";
    }
  }

  TempDir dir_;
};

TEST_F(PosixDriveTest, ListsFilesAndFoldersIncludingLinksButNoSpecialFiles) {
  const fs::path src = dir_ / "src";
  Write(src / "a.txt", "a");
  Write(src / std::string("caf\xe9.txt"), "not UTF-8");  // bytes kept as they are
  fs::create_directory(src / "Docs");
  fs::create_symlink(src / "a.txt", src / "link-to-file");
  fs::create_symlink(src / "Docs", src / "link-to-folder");
  fs::create_symlink(src / "missing", src / "dangling");
  ASSERT_EQ(::mkfifo((src / "pipe").c_str(), 0600), 0);

  Files files;
  const auto folder = files.Job().GetFolder(src.string());
  std::set<std::string> names;
  folder->ForEachFile([&](std::string name) { names.insert(name); });
  EXPECT_EQ(names, (std::set<std::string>{"a.txt", std::string("caf\xe9.txt"), "link-to-file"}));
  names.clear();
  folder->ForEachSubFolder([&](std::string name) { names.insert(name); });
  EXPECT_EQ(names, (std::set<std::string>{"Docs", "link-to-folder"}));
  EXPECT_THROW(files.Job().GetFolder((src / "a.txt").string()), Failure);
  EXPECT_THROW(files.Job().GetFolder((src / "gone").string()), Failure);
}

// A job resolves its drive once and keeps writing beneath the root it opened; the next job
// reads the table again, and a drive unplugged since fails before anything is written.
TEST_F(PosixDriveTest, DriveRootsResolveOncePerJobAndAnUnmountedDriveFails) {
  Write(dir_ / "src/a.txt", "payload");
  Files files((dir_ / "mountinfo").string());
  EXPECT_EQ(files.CopyFile(dir_ / "src/a.txt", "D:\\a.txt"), "");
  fs::remove(dir_ / "mountinfo");
  EXPECT_EQ(files.CopyFile(dir_ / "src/a.txt", "D:\\odd\\name.txt"), "");
  EXPECT_EQ(files.CopyFolder(dir_ / "src", "D:\\src"), "");
  EXPECT_EQ(files.Flush("D:\\"), "");
  EXPECT_EQ(Read(dir_ / "stick/a.txt"), "payload");
  EXPECT_EQ(Read(dir_ / "stick/odd\\name.txt"), "payload");
  EXPECT_EQ(Read(dir_ / "stick/src/a.txt"), "payload");

  files.NextJob();
  EXPECT_THAT(files.CopyFile(dir_ / "src/a.txt", "D:\\b.txt"), HasSubstr("mount table"));
  WriteMountTable(false);
  files.NextJob();
  EXPECT_THAT(files.CopyFolder(dir_ / "src", "D:\\c"), HasSubstr("not mounted"));
  EXPECT_FALSE(fs::exists(dir_ / "stick/b.txt"));
  EXPECT_FALSE(fs::exists(dir_ / "stick/c"));
}

// Real devices: exFAT images on loop devices, mounted with exfat-fuse like a pen drive. The
// process moves into a mount namespace of its own first, so nothing it mounts is seen outside.
class DeviceTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    skip_ = testing::StickSkipReason(testing::StickFormat::kExfat);
    if (skip_.empty() && (::unshare(CLONE_NEWNS) != 0 ||
                          ::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0)) {
      skip_ = "cannot make a private mount namespace";
    }
  }

  void SetUp() override {
    if (!skip_.empty()) {
      GTEST_SKIP() << skip_;
    }
    Write(src_ / "big", Bytes(10 << 20));
    Write(src_ / "small", "small");
    fs::create_directory(mount_);
    ASSERT_EQ(stick_.Make(8 << 20), "");
    if (const std::string problem = MountExfat(); !problem.empty()) {
      GTEST_SKIP() << problem;
    }
  }

  void TearDown() override { Unmount(); }

  // About 6 MiB free. Returns what went wrong.
  std::string MountExfat(const std::string& options = "") {
    std::string loop;
    if (std::string problem = stick_.Attach(loop); !problem.empty()) {
      return problem;
    }
    if (std::string problem = stick_.Mount(loop, mount_, options); !problem.empty()) {
      return problem;
    }
    mounted_ = true;
    return {};
  }

  void Unmount() {
    if (mounted_ && ::umount2(mount_.c_str(), 0) != 0) {
      ::umount2(mount_.c_str(), MNT_DETACH);
    }
    mounted_ = false;
  }

  std::string At(const std::string& name) const { return (mount_ / name).string(); }

  static inline std::string skip_;
  TempDir dir_;
  fs::path src_ = dir_ / "src";
  fs::path mount_ = dir_ / "mnt";
  testing::LoopStick stick_{dir_ / "image", testing::StickFormat::kExfat, dir_ / "command.log"};
  bool mounted_ = false;
  Files files_;
};

TEST_F(DeviceTest, CopiesReplacesAndFlushes) {
  SetTimes(src_ / "small", {1000000000, 0}, {1000000000, 0});
  Write(mount_ / "tree/small", "old");
  Write(dir_ / "tree/sub/small", "small");
  EXPECT_EQ(files_.CopyFile(src_ / "small", At("small"), false), "");
  EXPECT_EQ(files_.CopyFolder(dir_ / "tree", At("tree")), "");
  EXPECT_EQ(files_.CopyFile(src_ / "small", At("tree/small")), "");
  EXPECT_EQ(files_.Flush(mount_.string()), "");

  EXPECT_EQ(Read(mount_ / "tree/small"), "small");
  EXPECT_EQ(Read(mount_ / "tree/sub/small"), "small");
  EXPECT_EQ(Stat(mount_ / "small").st_mtim.tv_sec, 1000000000);
  EXPECT_THAT(Names(mount_),
              ElementsAre("small", "tree/", "tree/small", "tree/sub/", "tree/sub/small"));
}

TEST_F(DeviceTest, FullDeviceKeepsWhatWasThere) {
  Write(mount_ / "big", "older big");
  EXPECT_EQ(files_.CopyFile(src_ / "small", At("small")), "");
  EXPECT_THAT(files_.CopyFile(src_ / "big", At("big")), HasSubstr("No space left on device"));
  EXPECT_THAT(files_.CopyFolder(src_, At("folder")), HasSubstr("No space left on device"));
  EXPECT_EQ(files_.Flush(mount_.string()), "");

  EXPECT_EQ(Read(mount_ / "small"), "small");
  EXPECT_EQ(Read(mount_ / "big"), "older big");
  EXPECT_THAT(Temporaries(mount_), IsEmpty());
}

TEST_F(DeviceTest, NameTheFileSystemRejectsLeavesNothing) {
  fs::create_directories(dir_ / "tree/c:d");
  EXPECT_THAT(files_.CopyFile(src_ / "small", At("a:b.txt")), HasSubstr("Invalid argument"));
  EXPECT_THAT(files_.CopyFolder(dir_ / "tree", At("tree")), HasSubstr("Invalid argument"));
  EXPECT_THAT(Names(mount_), ElementsAre("tree/"));
}

TEST_F(DeviceTest, ReadOnlyDestinationKeepsTheOldFile) {
  Write(dir_ / "tree/small", "small");
  Write(mount_ / "small", "old");
  Unmount();
  Write(dir_ / "plain/small", "old");
  for (const bool exfat : {true, false}) {
    SCOPED_TRACE(exfat ? "exFAT mounted read-only" : "a folder made read-only by a bind mount");
    if (exfat) {
      ASSERT_EQ(MountExfat("ro"), "");
    } else {
      ASSERT_EQ(::mount((dir_ / "plain").c_str(), mount_.c_str(), nullptr, MS_BIND, nullptr), 0);
      mounted_ = true;
      ASSERT_EQ(
          ::mount(nullptr, mount_.c_str(), nullptr, MS_REMOUNT | MS_BIND | MS_RDONLY, nullptr), 0);
    }
    EXPECT_THAT(files_.CopyFile(src_ / "big", At("small")), HasSubstr("Read-only file system"));
    EXPECT_THAT(files_.CopyFolder(dir_ / "tree", At("tree")), HasSubstr("Read-only file system"));
    EXPECT_EQ(Read(mount_ / "small"), "old");
    Unmount();
  }
}

}  // namespace
}  // namespace salvatrix::posix
