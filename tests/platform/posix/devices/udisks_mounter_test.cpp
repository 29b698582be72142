#include "platform/posix/devices/udisks_mounter.h"

#include <gtest/gtest.h>
#include <sys/sysmacros.h>

#include <filesystem>
#include <fstream>
#include <random>

#include "platform/posix/devices/block_devices.h"

namespace salvatrix::posix {
namespace {

namespace fs = std::filesystem;

TEST(UdisksHints, OnlyAFilesystemUdisksWouldMountByItselfIsMountedOnArrival) {
  struct Case {
    std::string what;
    BlockHints hints;
    bool mount;
  };
  for (const Case& c : std::vector<Case>{
           {"stick", {false, false, true, "filesystem"}, true},
           {"system device", {true, false, true, "filesystem"}, false},
           {"ignored", {false, true, true, "filesystem"}, false},
           {"automount off", {false, false, false, "filesystem"}, false},
           {"encrypted", {false, false, true, "crypto"}, false},
           {"no filesystem", {false, false, true, ""}, false},
           {"nothing said", {}, false},
       }) {
    SCOPED_TRACE(c.what);
    EXPECT_EQ(MayMountOnArrival(c.hints), c.mount);
  }
  for (const auto& [name, path] : std::vector<std::pair<std::string, std::string>>{
           {"sdb1", "sdb1"}, {"dm-0", "dm_2d0"}, {"my_disk", "my_disk"}, {"a.b\xC3", "a_2eb_c3"}}) {
    SCOPED_TRACE(name);
    EXPECT_EQ(UdisksBlockObjectPath(name), "/org/freedesktop/UDisks2/block_devices/" + path);
  }
}

// A sysfs tree as the kernel lays it out: numbers under dev/block link to the device folders,
// a partition is a folder inside its disk's with a "partition" file.
TEST(BlockDevices, PartitionsLeadToTheirDiskAndTheDiskToAllOfThem) {
  std::mt19937_64 random{std::random_device{}()};
  const fs::path sys = fs::temp_directory_path() / ("salvatrix-sys-" + std::to_string(random()));
  const fs::path disk = sys / "devices/pci0/usb1/block/sdb";
  const auto device = [&](const fs::path& folder, const std::string& number, bool partition) {
    fs::create_directories(folder);
    std::ofstream(folder / "dev") << number << "\n";
    if (partition) {
      std::ofstream(folder / "partition") << "1\n";
    }
    fs::create_directories(sys / "dev/block");
    fs::create_directory_symlink(fs::relative(folder, sys / "dev/block"),
                                 sys / "dev/block" / number);
  };
  device(disk, "8:16", false);
  device(disk / "sdb2", "8:18", true);
  device(disk / "sdb1", "8:17", true);
  fs::create_directories(disk / "queue");

  EXPECT_EQ(WholeDisk(makedev(8, 17), sys.string()), makedev(8, 16));
  EXPECT_EQ(WholeDisk(makedev(8, 16), sys.string()), makedev(8, 16));
  EXPECT_EQ(WholeDisk(makedev(8, 99), sys.string()), std::nullopt);
  EXPECT_EQ(DiskAndPartitionNames(makedev(8, 16), sys.string()),
            (std::vector<std::string>{"sdb", "sdb1", "sdb2"}));
  EXPECT_TRUE(DiskAndPartitionNames(makedev(8, 99), sys.string()).empty());
  for (const std::string& source :
       std::vector<std::string>{"", "server:/share", "/dev/null", sys.string()}) {
    SCOPED_TRACE(source);
    EXPECT_EQ(WholeDiskOfSource(source, sys.string()), std::nullopt);
  }
  fs::remove_all(sys);
}

}  // namespace
}  // namespace salvatrix::posix
