#pragma once

#include <system_error>

struct stat;

namespace salvatrix::posix {

/// What a copy fails with when its source changed while it was copied: EBUSY.
std::error_code SourceChangedError();

/// Copies the content of in (open at its start; at_open is its fstat from right after it was
/// opened) to out: copy_file_range, then sendfile, then read and write, whichever the two
/// files allow; only read and write with big_writes (for FUSE, where sendfile's writes are half
/// the size and so twice the round trips). Exactly at_open's size is copied; then nothing may
/// follow, and size and modification time must still be as at open, or it fails with
/// SourceChangedError. A file of a kernel filesystem whose size is not its content (procfs, sysfs)
/// is copied to its end instead. Otherwise fails with the system's error (no_space_on_device,
/// io_error ...).
std::error_code CopyContent(int in, const struct stat& at_open, int out, bool big_writes = false);

}  // namespace salvatrix::posix
