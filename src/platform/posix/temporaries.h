#pragma once

#include <string>
#include <string_view>
#include <system_error>

#include "platform/posix/fd.h"

namespace salvatrix::posix {

/// Whether name is one of this program's temporary files: ".salvatrix-", six letters or
/// digits, ".tmp".
bool IsTemporaryName(std::string_view name);

/// Creates a new temporary file in folder, open for writing, with open's mode bits, and locks
/// it (flock) for as long as out or a duplicate of it stays open, so that another run's
/// RemoveStaleTemporaries leaves it alone. name receives its name. Fails as open does (see
/// NameError), or with EEXIST when no free name is found.
std::error_code CreateTemporary(int folder, unsigned mode, Fd& out, std::string& name);

/// Gives the unnamed file (O_TMPFILE) file the name in folder. Returns 0 or the errno value:
/// EEXIST when the name is taken.
int LinkUnnamed(int file, int folder, const char* name);

/// Locks the unnamed file file as CreateTemporary does and links it into folder under a new
/// temporary name, returned in name.
std::error_code NameUnnamedTemporary(int file, int folder, std::string& name);

/// Removes the stale temporary files that a killed or interrupted copy left in folder: only
/// names as IsTemporaryName says, only regular files (links are never followed), and only
/// those whose lock can be taken, so never one that a running copy is writing. What cannot be
/// read, opened or locked stays; nothing here fails the copy.
void RemoveStaleTemporaries(int folder);

}  // namespace salvatrix::posix
