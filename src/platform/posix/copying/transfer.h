#pragma once

#include <cstdint>

namespace salvatrix::posix {

/// Moves up to limit bytes from in's position to out's (to in's end, if that comes first):
/// copy_file_range, then sendfile, then read and write, whichever the two files allow; only
/// read and write with big_writes (for FUSE, where sendfile's writes are half the size and so
/// twice the round trips). Returns how many bytes moved; error receives 0, or the errno value
/// that stopped it.
std::uint64_t MoveData(int in, int out, std::uint64_t limit, bool big_writes, int& error);

/// False for a kernel file whose size says nothing about what a read gives (procfs, sysfs).
bool SizeTellsContent(int in);

}  // namespace salvatrix::posix
