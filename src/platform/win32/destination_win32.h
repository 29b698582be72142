#pragma once

#include <windows.h>

#include <map>
#include <set>
#include <string>
#include <string_view>
#include <utility>

#include "platform/win32/win32_files.h"

namespace salvatrix::win32 {

/// A folder a copy job writes in. It is held open for as long as the job writes in it, and
/// while it is, nobody can delete or rename it (so its path keeps leading to it).
struct TargetFolder {
  std::wstring path;
  Handle handle;
  EntryId id;
};

/// The writing side of one copy job. A drive is untrusted: every name the job writes is
/// checked without following a link found there, and the job remembers what it wrote, so that
/// two names the drive takes for one (it ignores case) fail instead of one overwriting the
/// other.
class Destination {
 public:
  /// Opens a folder the caller names (the drive's root, or the folder above a copied folder):
  /// the job writes in it but does not name it. Fails when it is no folder.
  TargetFolder OpenGiven(const std::wstring& path);
  /// Opens the sub-folder name of parent to write in, making it when it is missing. A link
  /// (junction, symbolic link, mount point) standing at the name is removed, never what it
  /// leads to, and a real folder takes its place. Fails when a file stands there, when the
  /// system will not open the link itself (so removing it could reach its target), or when
  /// this job already wrote that folder under another name.
  TargetFolder Enter(const TargetFolder& parent, const std::wstring& name);
  /// Copies the open file source (whose information at open is given) to name in folder,
  /// through a hidden temporary that takes the name only when it is complete on the device.
  /// A link at the name is replaced, not followed. Fails, leaving whatever stood at the name
  /// untouched and no temporary behind, when a folder stands at the name, when a file stands
  /// there and overwrite is not set, when this job already wrote that file under another name,
  /// when the source changes while it is copied (its size or last-write time, or it gives
  /// other bytes than its size), and on any read or write error.
  void WriteFile(const TargetFolder& folder, const std::wstring& name, HANDLE source,
                 const std::wstring& source_path, const BY_HANDLE_FILE_INFORMATION& at_open,
                 bool overwrite);

 private:
  // Removes the program's own temporaries that an earlier run left in folder, once per job.
  void Sweep(const TargetFolder& folder);
  // Fails when the job wrote entry in folder before, under a name other than name.
  void Check(const TargetFolder& folder, const EntryId& entry, const std::wstring& name,
             const std::wstring& path);
  void Note(const TargetFolder& folder, const EntryId& entry, const std::wstring& name);

  std::map<std::pair<EntryId, EntryId>, std::wstring> written_;  // (folder, entry) -> name
  std::set<EntryId> swept_;
};

/// Whether name has the form the program gives its temporaries: ".salvatrix-" digits "-"
/// digits ".tmp".
bool IsTemporaryName(std::wstring_view name);

}  // namespace salvatrix::win32
