#include "platform/posix/copy_engine.h"

#include "platform/posix/stick_fixture.h"
#include "support/temp_dir.h"

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
#include <cstdio>
#include <fstream>
#include <functional>
#include <future>
#include <optional>
#include <random>
#include <sstream>
#include <string>
#include <vector>

namespace salvatrix::posix {
namespace {

namespace fs = std::filesystem;
using ::testing::ElementsAre;
using ::testing::IsEmpty;

// The copy tests' scratch folder, below the temporary folder or below base.
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

// Everything below root, folders with a trailing "/", what is neither file nor folder (links,
// FIFOs) with "@".
std::vector<std::string> Tree(const fs::path& root) {
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
  for (const std::string& name : Tree(root)) {
    if (name.find(".salvatrix-") != std::string::npos) {
      found.push_back(name);
    }
  }
  return found;
}

// Runs copy on another thread. Should it hang on the FIFO, the FIFO gets a writer that leaves at
// once, so that the test fails instead of hanging.
std::error_code RunUnlessHung(const std::function<std::error_code()>& copy, const fs::path& fifo) {
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

TEST(CopyFileTest, KeepsContentTimesAndPermissionBitsWithoutSetId) {
  const struct {
    mode_t source;
    mode_t copy;
  } cases[] = {{0640, 0640}, {0755, 0755}, {04755, 0755}, {02700, 0700}};
  TempDir dir;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.source);
    Write(dir / "in", "content\n");
    ASSERT_EQ(::chmod((dir / "in").c_str(), c.source), 0);
    SetTimes(dir / "in", {1000000000, 123}, {1200000000, 456789});

    EXPECT_FALSE(CopyFile(dir / "in", dir / "out", true));
    const struct stat copy = Stat(dir / "out");
    EXPECT_EQ(Read(dir / "out"), "content\n");
    EXPECT_EQ(copy.st_mode & 07777, c.copy);
    EXPECT_EQ(copy.st_mtim.tv_sec, 1200000000);
    EXPECT_EQ(copy.st_mtim.tv_nsec, 456789);
    EXPECT_EQ(copy.st_atim.tv_sec, 1000000000);
  }
  EXPECT_THAT(Temporaries(dir.path()), IsEmpty());
}

TEST(CopyFileTest, ReplacesOnlyWhenAllowed) {
  TempDir dir;
  Write(dir / "in", "new");
  for (const bool overwrite : {false, true}) {
    SCOPED_TRACE(overwrite);
    Write(dir / "out", "old");
    EXPECT_EQ(CopyFile(dir / "in", dir / "out", overwrite),
              overwrite ? std::error_code{} : std::make_error_code(std::errc::file_exists));
    EXPECT_EQ(Read(dir / "out"), overwrite ? "new" : "old");
  }
  // A link at the destination is replaced by the file, its target is not written through.
  Write(dir / "target", "target");
  fs::create_symlink("target", dir / "link");
  EXPECT_FALSE(CopyFile(dir / "in", dir / "link", true));
  EXPECT_EQ(Read(dir / "target"), "target");
  EXPECT_TRUE(fs::is_regular_file(fs::symlink_status(dir / "link")));
  EXPECT_THAT(Temporaries(dir.path()), IsEmpty());
}

TEST(CopyFileTest, RefusesWhatIsNotAFileAndLeavesNothing) {
  TempDir dir;
  Write(dir / "file", "data");
  Write(dir / "folder/inside", "inside");
  ASSERT_EQ(::mkfifo((dir / "fifo").c_str(), 0600), 0);
  fs::create_symlink("fifo", dir / "fifo-link");
  const struct {
    std::string source, destination;
    std::errc error;
  } cases[] = {
      {"folder", "out", std::errc::is_a_directory},
      {"fifo", "out", std::errc::operation_not_supported},
      {"fifo-link", "out", std::errc::operation_not_supported},
      {"missing", "out", std::errc::no_such_file_or_directory},
      {"file", "folder", std::errc::is_a_directory},
      {"file", "folder/", std::errc::is_a_directory},
      {"file", "no-such-folder/out", std::errc::no_such_file_or_directory},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.source + " -> " + c.destination);
    const auto error = RunUnlessHung(
        [&] { return CopyFile(dir / c.source, dir.path() / c.destination, true); }, dir / "fifo");
    EXPECT_EQ(error, std::make_error_code(c.error));
  }
  EXPECT_THAT(Tree(dir.path()),
              ElementsAre("fifo-link@", "fifo@", "file", "folder/", "folder/inside"));
}

// A limit on file size (as root, permissions stop nothing) and a kernel file that fails to read
// break a copy half-way, after the temporary was made.
TEST(CopyFileTest, FailureHalfWayKeepsTheOldFileAndNoTemporary) {
  TempDir dir;
  Write(dir / "big", Bytes(3 << 20));
  const struct {
    fs::path source;
    std::errc error;
    std::optional<rlim_t> size_limit;
  } cases[] = {
      {dir / "big", std::errc::file_too_large, 1 << 20},
      {"/proc/self/mem", std::errc::io_error, std::nullopt},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.source);
    Write(dir / "out", "old");
    rlimit saved{};
    ASSERT_EQ(::getrlimit(RLIMIT_FSIZE, &saved), 0);
    const auto old_handler = std::signal(SIGXFSZ, SIG_IGN);
    if (c.size_limit) {
      const rlimit limited{*c.size_limit, saved.rlim_max};
      ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &limited), 0);
    }
    const auto error = CopyFile(c.source, dir / "out", true);
    ::setrlimit(RLIMIT_FSIZE, &saved);
    std::signal(SIGXFSZ, old_handler);

    EXPECT_EQ(error, std::make_error_code(c.error));
    EXPECT_EQ(Read(dir / "out"), "old");
    EXPECT_THAT(Temporaries(dir.path()), IsEmpty());
  }
}

// Before Linux 6.10 only root can name an unnamed temporary directly; anyone else goes through
// /proc.
TEST(CopyFileTest, CopiesAndReplacesWithoutPrivileges) {
  if (::geteuid() != 0) {
    GTEST_SKIP() << "already unprivileged, as in every other test";
  }
  constexpr uid_t kNobody = 65534;
  TempDir dir;
  Write(dir / "in", "data");
  ASSERT_EQ(::chown(dir.path().c_str(), kNobody, kNobody), 0);
  const pid_t child = ::fork();
  if (child == 0) {
    const bool copied = ::setresgid(kNobody, kNobody, kNobody) == 0 &&
                        ::setresuid(kNobody, kNobody, kNobody) == 0 &&
                        !CopyFile(dir / "in", dir / "out", false) &&
                        !CopyFile(dir / "in", dir / "out", true) && Read(dir / "out") == "data";
    ::_exit(copied ? 0 : 1);
  }
  int status = 0;
  ASSERT_EQ(::waitpid(child, &status, 0), child);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  EXPECT_THAT(Tree(dir.path()), ElementsAre("in", "out"));
}

TEST(CopyFileTest, CopiesBigFilesAndKernelFilesWithoutSize) {
  TempDir dir;
  // Another filesystem, where copy_file_range gives way to sendfile.
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
    EXPECT_FALSE(CopyFile(dir / "big", *to / "copy", true));
    EXPECT_TRUE(Read(*to / "copy") == big);
  }
  // procfs says 0 bytes; copy_file_range then copies nothing.
  EXPECT_FALSE(CopyFile("/proc/self/status", dir / "status", true));
  EXPECT_THAT(Read(dir / "status"), ::testing::StartsWith("Name:"));
}

TEST(CopyFolderTest, CopiesTheTreeFollowingLinksWithoutLoopingOrOpeningFifos) {
  TempDir dir;
  const fs::path in = dir / "in";
  Write(in / "a.txt", "a");
  Write(in / "sub/b.txt", "b");
  Write(in / "sub/deep/c.txt", "c");
  fs::create_directories(in / "empty/emptier");
  fs::create_symlink("sub/b.txt", in / "file-link");
  fs::create_symlink(in / "sub", in / "folder-link");
  fs::create_symlink("nowhere", in / "dangling");
  fs::create_symlink("../..", in / "sub/deep/up");  // back to the top
  fs::create_symlink(".", in / "sub/self");
  ASSERT_EQ(::mkfifo((in / "sub/fifo").c_str(), 0600), 0);
  fs::create_symlink("fifo", in / "sub/fifo-link");
  // Two siblings linking to each other: each is copied once inside the other, then the way back
  // up is cut.
  Write(in / "x/x.txt", "x");
  Write(in / "y/y.txt", "y");
  fs::create_symlink("../y", in / "x/to-y");
  fs::create_symlink("../x", in / "y/to-x");

  EXPECT_FALSE(RunUnlessHung([&] { return CopyFolder(in, dir / "out", false); }, in / "sub/fifo"));
  EXPECT_THAT(Tree(dir / "out"),
              ElementsAre("a.txt", "empty/", "empty/emptier/", "file-link", "folder-link/",
                          "folder-link/b.txt", "folder-link/deep/", "folder-link/deep/c.txt",
                          "sub/", "sub/b.txt", "sub/deep/", "sub/deep/c.txt", "x/", "x/to-y/",
                          "x/to-y/y.txt", "x/x.txt", "y/", "y/to-x/", "y/to-x/x.txt", "y/y.txt"));
  EXPECT_EQ(Read(dir / "out/file-link"), "b");
}

TEST(CopyFolderTest, MergesIntoAnExistingFolder) {
  TempDir dir;
  Write(dir / "in/same.txt", "new");
  Write(dir / "in/sub/same.txt", "new");
  for (const bool overwrite : {false, true}) {
    SCOPED_TRACE(overwrite);
    Write(dir / "out/keep.txt", "keep");
    Write(dir / "out/sub/same.txt", "old");
    EXPECT_EQ(CopyFolder(dir / "in", dir / "out", overwrite),
              overwrite ? std::error_code{} : std::make_error_code(std::errc::file_exists));
    EXPECT_EQ(Read(dir / "out/keep.txt"), "keep");
    EXPECT_EQ(Read(dir / "out/sub/same.txt"), overwrite ? "new" : "old");
  }
  EXPECT_THAT(Temporaries(dir.path()), IsEmpty());
}

TEST(CopyFolderTest, FailsWhenAFileStandsWhereAFolderGoesOrTheOtherWayRound) {
  const struct {
    std::string file, folder;  // what the test makes before copying "in" to "out"
    std::errc error;
  } cases[] = {
      {"in/name", "out/name", std::errc::is_a_directory},
      {"out/name", "in/name", std::errc::not_a_directory},
      {"out", "in", std::errc::not_a_directory},
      {"in", "out", std::errc::not_a_directory},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE("file " + c.file + ", folder " + c.folder);
    TempDir dir;
    Write(dir / c.file, "file");
    fs::create_directories(dir / c.folder);
    EXPECT_EQ(CopyFolder(dir / "in", dir / "out", true), std::make_error_code(c.error));
    EXPECT_EQ(Read(dir / c.file), "file");
  }
}

TEST(CopyFolderTest, SkipsTheDestinationWhenItLiesInsideTheSource) {
  TempDir dir;
  Write(dir / "a.txt", "a");
  EXPECT_FALSE(CopyFolder(dir.path(), dir / "copy", true));
  EXPECT_THAT(Tree(dir.path()), ElementsAre("a.txt", "copy/", "copy/a.txt"));
}

TEST(FlushTest, SyncsAFolderAndFailsOnAMissingOne) {
  TempDir dir;
  EXPECT_FALSE(Flush(dir.path()));
  EXPECT_EQ(Flush(dir / "missing"), std::make_error_code(std::errc::no_such_file_or_directory));
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

  static inline std::string skip_;
  TempDir dir_;
  fs::path src_ = dir_ / "src";
  fs::path image_ = dir_ / "image";
  fs::path mount_ = dir_ / "mnt";
  testing::LoopStick stick_{image_, testing::StickFormat::kExfat, dir_ / "command.log"};
  bool mounted_ = false;
};

TEST_F(DeviceTest, CopiesReplacesAndFlushes) {
  SetTimes(src_ / "small", {1000000000, 0}, {1000000000, 0});
  Write(mount_ / "tree/small", "old");
  Write(dir_ / "tree/sub/small", "small");
  EXPECT_FALSE(CopyFile(src_ / "small", mount_ / "small", false));
  EXPECT_FALSE(CopyFolder(dir_ / "tree", mount_ / "tree", true));
  EXPECT_FALSE(CopyFile(src_ / "small", mount_ / "tree/small", true));
  EXPECT_FALSE(Flush(mount_));

  EXPECT_EQ(Read(mount_ / "tree/small"), "small");
  EXPECT_EQ(Read(mount_ / "tree/sub/small"), "small");
  EXPECT_EQ(Stat(mount_ / "small").st_mtim.tv_sec, 1000000000);
  EXPECT_THAT(Tree(mount_),
              ElementsAre("small", "tree/", "tree/small", "tree/sub/", "tree/sub/small"));
}

TEST_F(DeviceTest, FullDeviceKeepsWhatWasThere) {
  Write(mount_ / "big", "older big");
  EXPECT_FALSE(CopyFile(src_ / "small", mount_ / "small", true));
  EXPECT_EQ(CopyFile(src_ / "big", mount_ / "big", true),
            std::make_error_code(std::errc::no_space_on_device));
  EXPECT_EQ(CopyFolder(src_, mount_ / "folder", true),
            std::make_error_code(std::errc::no_space_on_device));
  EXPECT_FALSE(Flush(mount_));

  EXPECT_EQ(Read(mount_ / "small"), "small");
  EXPECT_EQ(Read(mount_ / "big"), "older big");
  EXPECT_THAT(Temporaries(mount_), IsEmpty());
}

TEST_F(DeviceTest, NameTheFilesystemRejectsLeavesNothing) {
  fs::create_directories(dir_ / "tree/c:d");
  EXPECT_EQ(CopyFile(src_ / "small", mount_ / "a:b.txt", true),
            std::make_error_code(std::errc::invalid_argument));
  EXPECT_EQ(CopyFolder(dir_ / "tree", mount_ / "tree", true),
            std::make_error_code(std::errc::invalid_argument));
  EXPECT_THAT(Tree(mount_), ElementsAre("tree/"));
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
    EXPECT_EQ(CopyFile(src_ / "big", mount_ / "small", true),
              std::make_error_code(std::errc::read_only_file_system));
    EXPECT_EQ(CopyFolder(dir_ / "tree", mount_ / "tree", true),
              std::make_error_code(std::errc::read_only_file_system));
    EXPECT_EQ(Read(mount_ / "small"), "old");
    Unmount();
  }
}

}  // namespace
}  // namespace salvatrix::posix
