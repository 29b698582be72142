#pragma once

#include <string_view>

namespace salvatrix {

class AppInfo;
class FileSystem;
class ListBox;
class MessageBoxes;

/// The source folder's files and sub-folders in the main window's lists.
class SourceLists final {
 public:
  SourceLists(FileSystem& files, AppInfo& app, MessageBoxes& boxes);

  /// Refills cmbList with the names of the files of strFolder and selects every one except the
  /// program's own executable. The folder is opened before the list is touched, so a folder
  /// that cannot be opened fails and leaves the list as it was. A folder with more files than
  /// a list can hold lists the first 32,767 and says so in a box.
  void PopulateFilesList(ListBox& cmbList, std::string_view strFolder);
  /// Refills list with the names of the sub-folders of folder; selects none. Fails like
  /// PopulateFilesList.
  void PopulateSubFoldersList(std::string_view folder, ListBox& list);

 private:
  FileSystem& files_;
  AppInfo& app_;
  MessageBoxes& boxes_;
};

}  // namespace salvatrix
