#pragma once

#include "platform/file_primitives.h"

namespace salvatrix::posix {

class DriveTable;

/// The file primitives on Linux. Drive roots ("E:\name") are resolved through the drive
/// table, read once per session (that is, once per copy job): the first write onto a drive
/// opens its root, and everything the job writes there goes beneath that root, whatever
/// happens to the mount point meanwhile. A drive that is not mounted when the job reaches it
/// fails. Every other path is a plain path; the rest after a drive root is one literal name
/// (a backslash is part of it), or names joined by "/" opened beneath the root.
class PosixFiles final : public FilePrimitives {
 public:
  explicit PosixFiles(DriveTable& drives) : drives_(drives) {}

  std::unique_ptr<FileSession> StartSession() override;

 private:
  DriveTable& drives_;
};

}  // namespace salvatrix::posix
