#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace salvatrix::posix {

/// What UDisks2 says about a block device, as far as mounting it on arrival goes.
struct BlockHints {
  bool system = true;
  bool ignore = false;
  bool automount = false;
  std::string usage;  // IdUsage: "filesystem", "crypto", "raid", "other" or empty
};

/// Whether a stick's block may be mounted on arrival: it holds a filesystem, udisks calls it
/// neither a system device nor one to ignore, and allows mounting it automatically.
bool MayMountOnArrival(const BlockHints& hints);

/// UDisks2's object path for the block device of a kernel name: bytes other than ASCII letters,
/// digits and '_' become "_" and two hex digits ("dm-0" → ".../block_devices/dm_2d0").
std::string UdisksBlockObjectPath(std::string_view kernel_name);

/// Asks UDisks2 on the system D-Bus to mount filesystems, as a file manager does: polkit
/// decides, with no password prompt. Never blocks: calls are asynchronous with a time limit,
/// and the owner polls Fd() for reading and calls Process() when it is ready. The bus is
/// opened at the first request and again after it went away. A missing bus or UDisks2 is
/// reported once on standard error, a refused mount once per device; nothing else is shown.
/// For one thread.
class UdisksMounter final {
 public:
  /// A request that has ended: mounted is true when at least one of its devices got mounted.
  struct Finished {
    std::uint64_t request;
    bool mounted;
  };

  /// Fails (std::system_error) only when the descriptor to poll cannot be made.
  UdisksMounter();
  ~UdisksMounter();
  UdisksMounter(const UdisksMounter&) = delete;
  UdisksMounter& operator=(const UdisksMounter&) = delete;

  /// Asks for each block device (kernel names) whose hints allow it to be mounted. The request
  /// ends, and appears in Process(), when every device has been answered or timed out. False
  /// when nothing could be asked (no bus, no device): the request has then ended already.
  bool Mount(std::uint64_t request, const std::vector<std::string>& kernel_names);

  /// Readable when Process() has something to do. Stable for the life of the mounter.
  int Fd() const;
  /// Handles what the bus delivered and the time limits that passed; returns the requests that
  /// ended since the last call. A bus that went away ends every request still open.
  std::vector<Finished> Process();

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

}  // namespace salvatrix::posix
