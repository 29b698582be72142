#pragma once

#include <memory>
#include <string>

#include "platform/failure.h"
#include "platform/file_primitives.h"
#include "platform/file_system.h"

namespace salvatrix {

/// Why the copy rules refused a copy (beside what the system refused).
enum class CopyProblem {
  kExists,            // the target exists and may not be replaced
  kFolderInTheWay,    // a folder stands where a file goes
  kFileInTheWay,      // a file (or anything but a folder) stands where a folder goes
  kMountPoint,        // another file system is mounted at the target
  kTwoNamesOneEntry,  // the destination takes this name for one the job wrote under another
  kSourceChanged,     // the source changed while it was copied
  kTooLarge,          // the source is larger than the destination's file system can hold
  kInsideSource,      // the target folder lies inside the folder being copied
  kContainsSource,    // the target folder holds the folder being copied
  kNotAFile,          // the source is a folder, FIFO, socket or device
  kNotAFolder,        // the source of a folder copy is no folder
  kGone,              // a source entry went away, or keeps changing, while it was copied
};

/// A copy the rules refused.
class CopyRefused : public Failure {
 public:
  CopyRefused(CopyProblem problem, const std::string& what) : Failure(what), problem_(problem) {}
  CopyProblem problem() const { return problem_; }

 private:
  CopyProblem problem_;
};

/// The file-system object of every copy job and listing, on every system: the rules that keep
/// data safe, over one OS layer's primitives. A stick is untrusted, and so is the state of its
/// file system:
/// - Nothing is written through a link or into a mount point met on the destination: a link
///   where a folder goes is removed (never its target) and a real folder made; a link where a
///   file goes is replaced by the file; a mount point fails the copy.
/// - A file takes its name only once complete (unnamed until then where the system can, else a
///   temporary renamed over the old file; a free name may be written directly). On any
///   failure the old file keeps its content, and what the job made is removed again, only while
///   it is still the one the job made.
/// - A source whose size or modification time changed while it was copied, or that gave more
///   or fewer bytes than its size, is not published (kSourceChanged).
/// - Two source names that the destination makes one entry fail (kTwoNamesOneEntry), judged
///   per pair: by identity where the destination can tell, else by its name rule confirmed by
///   its listing; what was written first keeps its content. A name the job did not write
///   before (an old file on the stick spelt otherwise) is replaced as any same-named file is.
/// - A target that is its own source is left as it is and counts as copied; a folder copy
///   whose target holds the source or lies inside it fails before anything is written.
/// - Inside a copied folder a link is followed only to what lies inside that folder; cycles,
///   FIFOs, sockets and devices are skipped.
/// - Stale temporaries a killed copy left in a folder are removed before the job first writes
///   there, unless the job reads from that folder or a live copy holds them.
/// - A read-only same-named file is replaced; a file larger than the destination can hold
///   fails before a byte of it is written (kTooLarge).
/// - A failed copy reports one line (the item and the reason) through the session.
class CopyPolicy final : public FileSystem {
 public:
  /// primitives must outlive the policy and every object it makes.
  explicit CopyPolicy(FilePrimitives& primitives) : primitives_(primitives) {}

  std::unique_ptr<FileSystemObject> CreateObject() override;

 private:
  FilePrimitives& primitives_;
};

}  // namespace salvatrix
