#pragma once

#include <functional>
#include <memory>
#include <string>
#include <string_view>

namespace salvatrix {

/// An open folder: its direct files and direct sub-folders, by name, in the order the folder
/// listing yields them.
class Folder {
 public:
  virtual ~Folder() = default;

  /// Calls visit with the name of each file (including links to files). A failure part-way
  /// leaves the names already visited with the caller.
  virtual void ForEachFile(const std::function<void(std::string)>& visit) = 0;
  /// Calls visit with the name of each sub-folder (including links to folders).
  virtual void ForEachSubFolder(const std::function<void(std::string)>& visit) = 0;
};

/// One file-system object: created for one listing or one copy run, released at its end.
class FileSystemObject {
 public:
  virtual ~FileSystemObject() = default;

  /// Opens a folder by path. Fails (with the platform's error text) when the path names no
  /// folder or the folder cannot be read.
  virtual std::unique_ptr<Folder> GetFolder(std::string_view path) = 0;

  /// Copies a file, replacing a same-named file when overwrite is set. Returns when the copy is
  /// complete; fails otherwise, leaving any replaced file as it was.
  virtual void CopyFile(std::string_view source, std::string_view destination, bool overwrite) = 0;
  /// Copies a folder with everything below it, merging into an existing folder and replacing
  /// same-named files when overwrite is set. Fails at the first item that cannot be copied.
  virtual void CopyFolder(std::string_view source, std::string_view destination,
                          bool overwrite) = 0;
  /// Makes sure everything copied below destination_root is on the device. Fails when the
  /// device reports an error.
  virtual void Flush(std::string_view destination_root) = 0;
};

/// Makes file-system objects.
class FileSystem {
 public:
  virtual ~FileSystem() = default;

  /// Fails when no object can be made.
  virtual std::unique_ptr<FileSystemObject> CreateObject() = 0;
};

}  // namespace salvatrix
