#pragma once

// The file-system primitives an OS layer gives the copy rules (src/copy/policy): system calls
// only, no decision. Every call that fails for a reason the rules do not ask about throws
// Failure with the path and the system's text; what the rules decide on is answered in the
// return value.

#include <array>
#include <compare>
#include <cstdint>
#include <limits>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace salvatrix {

/// What a file or folder is: its volume and its number there. Where a folder's traits say so,
/// every spelling of a name that reaches an entry gives the same identity.
struct EntryId {
  std::uint64_t volume = 0;
  std::array<std::uint8_t, 16> file{};
  auto operator<=>(const EntryId&) const = default;
};

/// What stands at a name, looked at without following a link.
enum class EntryKind : std::uint8_t {
  kMissing,
  kFile,
  kFolder,
  kLink,        // a symbolic link, junction or other reparse point
  kMountPoint,  // another file system's root, or a file mounted over the name
  kOther,       // FIFO, socket, device
};

struct EntryInfo {
  EntryKind kind = EntryKind::kMissing;
  EntryId id;
  /// A folder link (Windows: a rename replaces no folder, not even a link to one).
  bool leads_to_folder = false;
  /// The read-only mark that makes a rename onto the entry fail (FAT on Windows).
  bool read_only = false;
};

/// How a destination file system compares the names in a folder.
enum class NameRule : std::uint8_t {
  kExact,   // case-sensitive: no two spellings are one entry
  kUpcase,  // each UTF-16 unit through the up-case table (exFAT, FAT and NTFS)
};

struct FolderTraits {
  /// One entry gives one identity whichever spelling reaches it (kernel file systems,
  /// Windows); not so where a file system in user space numbers every spelling apart.
  bool ids_tell_spellings = true;
  NameRule names = NameRule::kExact;
  std::uint64_t max_file_size = std::numeric_limits<std::uint64_t>::max();
  /// A file can be written without a name and linked in once complete (O_TMPFILE).
  bool unnamed_files = false;
};

/// A source file's size and modification time (in the system's own units) at one moment.
struct FileStamp {
  std::uint64_t size = 0;
  std::int64_t modified = 0;
  bool operator==(const FileStamp&) const = default;
};

/// A source file, open for reading from its start.
class SourceFile {
 public:
  virtual ~SourceFile() = default;
  virtual EntryId Id() const = 0;
  /// The folder it was opened in.
  virtual EntryId FolderId() = 0;
  /// Its size and modification time when it was opened, and now.
  virtual FileStamp AtOpen() const = 0;
  virtual FileStamp Stamp() = 0;
  /// False where sizes say nothing about what a read gives (procfs, sysfs).
  virtual bool SizeTellsContent() = 0;
  /// Whether a byte can be read at offset (without moving the file position).
  virtual bool HasByteAt(std::uint64_t offset) = 0;
};

/// One entry of a source folder.
struct SourceEntry {
  std::string name;
  EntryKind kind = EntryKind::kOther;    // without following a link
  EntryKind target = EntryKind::kOther;  // what a link leads to (kFile, kFolder, kOther), else kind
};

/// A source folder, open for listing.
class SourceFolder {
 public:
  virtual ~SourceFolder() = default;
  virtual EntryId Id() const = 0;
  /// The identities of the folders above this one, nearest first.
  virtual std::vector<EntryId> Above() = 0;
  virtual std::vector<SourceEntry> List() = 0;
  /// Opens the file or folder name without following a link; nothing when no such entry stands
  /// there now, with what does stand there in found (kLink for a link, which some systems only
  /// show when it is opened). A kFile in found on the way in says that the listing showed a
  /// regular file there: no look is needed before it is opened.
  virtual std::unique_ptr<SourceFile> OpenFile(const std::string& name, EntryKind& found) = 0;
  virtual std::unique_ptr<SourceFolder> OpenFolder(const std::string& name, EntryKind& found) = 0;
  /// Where this folder really is, every link resolved: the names from the top of the system
  /// down. With a name: where the entry name leads; nothing when it leads nowhere.
  virtual std::vector<std::string> RealPath() = 0;
  virtual std::optional<std::vector<std::string>> RealPath(const std::string& name) = 0;
  /// The path of name in this folder, for messages.
  virtual std::string PathOf(std::string_view name) const = 0;
};

/// A file being written into a destination folder.
class NewFile {
 public:
  virtual ~NewFile() = default;
  virtual EntryId Id() = 0;
  /// Moves up to limit bytes from from's position; returns how many.
  virtual std::uint64_t Fill(SourceFile& from, std::uint64_t limit) = 0;
  /// The source's times and permission bits or marks (what the system lets a copy keep).
  virtual void TakeAttributes(SourceFile& from) = 0;
  /// The content is complete: a temporary reports now what writing it failed with late (close,
  /// flush); any other file may wait until Close.
  virtual void Commit() = 0;
  /// An unnamed file takes name; false when the name is taken. as_temporary: the file is a
  /// temporary that a live copy holds (locked).
  virtual bool Link(const std::string& name, bool as_temporary) = 0;
  /// A named file takes name, replacing what stands there (a rename).
  virtual void Rename(const std::string& name) = 0;
  /// Done: the file keeps the name it has. Fails with what writing it failed with late.
  virtual void Close() = 0;
  /// Removes the file again, only while its name still leads to it (never another's file that
  /// took the name meanwhile). Never fails.
  virtual void Discard() noexcept = 0;
};

/// A folder on the destination, open for writing in.
class DestinationFolder {
 public:
  enum class Create : std::uint8_t {
    kNamed,      // exclusively under the given name
    kTemporary,  // exclusively under the given name, held (locked, hidden) while it is written
    kUnnamed,    // without a name (only where the traits say unnamed_files)
  };

  virtual ~DestinationFolder() = default;
  virtual EntryId Id() const = 0;
  virtual FolderTraits Traits() = 0;
  /// The identities of the folders above this one, nearest first.
  virtual std::vector<EntryId> Above() = 0;
  virtual EntryInfo Look(const std::string& name) = 0;
  /// The names in the folder, as it spells them.
  virtual std::vector<std::string> List() = 0;
  /// Opens the sub-folder name without following a link or entering another file system;
  /// nothing when no such folder stands there now.
  virtual std::unique_ptr<DestinationFolder> Open(const std::string& name) = 0;
  /// Makes the sub-folder name (with the permission bits of like where the system has them);
  /// false when the name is taken.
  virtual bool Make(const std::string& name, SourceFolder& like) = 0;
  /// Removes the link name, only while it is still the entry expected.
  virtual void RemoveLink(const std::string& name, const EntryInfo& expected) = 0;
  /// Clears the read-only mark of name, only while it is still the entry expected.
  virtual void ClearReadOnly(const std::string& name, const EntryInfo& expected) = 0;
  /// A new file, open for writing, made with like's permission bits where the system has
  /// them; nothing when the name is taken (or, for kUnnamed, when the system cannot).
  virtual std::unique_ptr<NewFile> CreateFile(const std::string& name, Create how,
                                              SourceFile& like) = 0;
  /// Removes the temporary name left by a copy that ended early: only a regular file that no
  /// live copy holds. False when it stays.
  virtual bool RemoveStale(const std::string& name) = 0;
  /// The path of name in this folder, for messages.
  virtual std::string PathOf(std::string_view name) const = 0;
};

/// One listing or one copy run's access to the file system.
class FileSession {
 public:
  virtual ~FileSession() = default;
  /// The source the user chose, links on its way followed.
  /// Nothing when no folder (or no regular file) stands there, with what does in found. A FIFO
  /// or device is never opened.
  virtual std::unique_ptr<SourceFolder> OpenSourceFolder(std::string_view path,
                                                         EntryKind& found) = 0;
  virtual std::unique_ptr<SourceFile> OpenSourceFile(std::string_view path, EntryKind& found) = 0;
  /// The folder that receives destination's last name, and that name. A drive's root is
  /// resolved once per session.
  virtual std::unique_ptr<DestinationFolder> OpenDestination(std::string_view destination,
                                                             std::string& name) = 0;
  /// Makes sure everything written below destination_root is on the device.
  virtual void Flush(std::string_view destination_root) = 0;
  /// Writes one line about a failed copy where a developer looks (standard error, the
  /// debugger's output).
  virtual void Report(std::string_view line) = 0;
};

/// Makes sessions.
class FilePrimitives {
 public:
  virtual ~FilePrimitives() = default;
  virtual std::unique_ptr<FileSession> StartSession() = 0;
};

}  // namespace salvatrix
