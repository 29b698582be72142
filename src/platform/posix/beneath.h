#pragma once

#include <string_view>
#include <system_error>

#include "platform/posix/fd.h"

namespace salvatrix::posix {

/// Opens relative (names joined by "/") beneath the open folder without following any link
/// and without leaving folder, with open's flags: openat2 with RESOLVE_BENEATH and
/// RESOLVE_NO_SYMLINKS where the kernel has it, OpenBeneathByComponents otherwise. Fails with
/// ELOOP when a link stands anywhere on the way, EXDEV for a ".." or an absolute path, and
/// otherwise as open.
std::error_code OpenBeneath(int folder, std::string_view relative, int flags, Fd& out);

/// The same one name at a time, each opened with O_NOFOLLOW: for kernels without openat2.
std::error_code OpenBeneathByComponents(int folder, std::string_view relative, int flags, Fd& out);

/// Opens the folder name in parent (as O_PATH, enough to work inside it), making it with mode
/// when it is missing; created tells which. A link standing at the name is removed, never
/// followed, and a real folder made in its place. Fails with ENOTDIR when a file or anything
/// else stands there, and otherwise as mkdir and open (see NameError).
std::error_code OpenOrMakeFolder(int parent, const char* name, unsigned mode, Fd& out,
                                 bool& created);

/// The error for a name that the destination refused. exfat-fuse answers a name it cannot
/// store (a:b.txt) with ENOENT, which would read as if something were missing; while the
/// folder is still there, EINVAL says that the name was refused.
std::error_code NameError(int folder, int error);

}  // namespace salvatrix::posix
