#pragma once

#include <memory>

#include "platform/file_system.h"

namespace salvatrix::posix {

class DriveTable;

/// The file-system object on Linux. Drive roots ("E:\name") are resolved through the drive
/// table, read once per object (that is, once per copy job): the first copy onto a drive opens
/// its root, and everything the job writes there goes beneath that root (see CopySession).
/// A drive that is not mounted when the job reaches it fails. Every other path is a plain path.
class PosixFileSystem final : public FileSystem {
 public:
  explicit PosixFileSystem(DriveTable& drives);

  std::unique_ptr<FileSystemObject> CreateObject() override;

 private:
  DriveTable& drives_;
};

}  // namespace salvatrix::posix
