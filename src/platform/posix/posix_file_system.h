#pragma once

#include <memory>

#include "platform/file_system.h"

namespace salvatrix::posix {

class DriveTable;

/// The file-system object on Linux. Drive roots ("E:\name") are resolved through the drive
/// table; every other path is a plain path.
class PosixFileSystem final : public FileSystem {
 public:
  explicit PosixFileSystem(DriveTable& drives);

  std::unique_ptr<FileSystemObject> CreateObject() override;

 private:
  DriveTable& drives_;
};

}  // namespace salvatrix::posix
