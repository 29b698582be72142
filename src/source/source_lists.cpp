#include "source/source_lists.h"

#include <cstdint>
#include <functional>
#include <string>

#include "controls/controls.h"
#include "platform/app_info.h"
#include "platform/file_system.h"
#include "platform/message_boxes.h"

namespace salvatrix {
namespace {

std::string TooManyText(std::string_view what, std::string_view folder) {
  return "The folder " + std::string(folder) + " holds more " + std::string(what) +
         " than the list can show. Only the first 32767 are listed; the others cannot be "
         "selected and will not be copied.";
}

enum class Entries { kFiles, kSubFolders };

// Refills list with the files or the sub-folders of folder, then lets select_defaults choose
// the default selection. The folder is opened before the list is touched. Names beyond what a
// list can hold are not listed (so they can never be copied unseen), and a box says so.
void Refill(FileSystem& files, MessageBoxes& boxes, ListBox& list, std::string_view folder,
            Entries entries, const std::function<void()>& select_defaults) {
  const auto fso = files.CreateObject();
  const auto opened = fso->GetFolder(folder);
  bool truncated = false;
  {
    // The views see the refilled list once, with its default selection.
    const ListBox::Batch batch(list);
    list.Clear();
    const auto append = [&list, &truncated](std::string name) {
      if (list.ListCount() == ListBox::kMaxItems) {
        truncated = true;
        return;
      }
      list.AddItem(std::move(name));
    };
    if (entries == Entries::kFiles) {
      opened->ForEachFile(append);
    } else {
      opened->ForEachSubFolder(append);
    }
    select_defaults();
  }
  if (truncated) {
    boxes.Show(TooManyText(entries == Entries::kFiles ? "files" : "sub-folders", folder),
               kApplicationTitle, kMbIconInformation);
  }
}

}  // namespace

SourceLists::SourceLists(FileSystem& files, AppInfo& app, MessageBoxes& boxes)
    : files_(files), app_(app), boxes_(boxes) {}

void SourceLists::PopulateFilesList(ListBox& cmbList, std::string_view strFolder) {
  Refill(files_, boxes_, cmbList, strFolder, Entries::kFiles, [this, &cmbList] {
    const std::int16_t count = cmbList.ListCount();
    if (count == 0) {
      return;
    }
    // Asked once, not per item: on Linux each answer reads a link in /proc.
    const std::string executable = app_.ExecutableFileName();
    for (std::int16_t i = 0; i < count; ++i) {
      if (cmbList.List(i) != executable) {
        cmbList.SetSelected(i, true);
      }
    }
  });
}

void SourceLists::PopulateSubFoldersList(std::string_view folder, ListBox& list) {
  Refill(files_, boxes_, list, folder, Entries::kSubFolders, [] {});
}

}  // namespace salvatrix
