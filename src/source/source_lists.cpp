#include "source/source_lists.h"

#include <string>

#include "controls/controls.h"
#include "platform/app_info.h"
#include "platform/file_system.h"
#include "platform/message_boxes.h"

namespace salvatrix {
namespace {

// Fills list from one enumeration. Names beyond what a list can hold are not listed (so they
// can never be copied unseen); the result says whether that happened.
bool AppendAll(ListBox& list,
               const std::function<void(const std::function<void(std::string)>&)>& enumerate) {
  bool truncated = false;
  enumerate([&list, &truncated](std::string name) {
    if (list.ListCount() == ListBox::kMaxItems) {
      truncated = true;
      return;
    }
    list.AddItem(std::move(name));
  });
  return truncated;
}

std::string TooManyText(std::string_view what, std::string_view folder) {
  return "The folder " + std::string(folder) + " holds more " + std::string(what) +
         " than the list can show. Only the first 32767 are listed; the others cannot be "
         "selected and will not be copied.";
}

}  // namespace

SourceLists::SourceLists(FileSystem& files, AppInfo& app, MessageBoxes& boxes)
    : files_(files), app_(app), boxes_(boxes) {}

void SourceLists::PopulateFilesList(ListBox& cmbList, std::string_view strFolder) {
  const auto fso = files_.CreateObject();
  const auto folder = fso->GetFolder(strFolder);
  bool truncated = false;
  {
    // The views see the refilled list once, with its default selection.
    const ListBox::Batch batch(cmbList);
    cmbList.Clear();
    truncated = AppendAll(cmbList, [&folder](const auto& visit) { folder->ForEachFile(visit); });
    const std::int16_t count = cmbList.ListCount();
    if (count > 0) {
      // Asked once, not per item: on Linux each answer reads a link in /proc.
      const std::string executable = app_.ExecutableFileName();
      for (std::int16_t i = 0; i < count; ++i) {
        if (cmbList.List(i) != executable) {
          cmbList.SetSelected(i, true);
        }
      }
    }
  }
  if (truncated) {
    boxes_.Show(TooManyText("files", strFolder), kApplicationTitle, kMbIconInformation);
  }
}

void SourceLists::PopulateSubFoldersList(std::string_view folder, ListBox& list) {
  const auto fso = files_.CreateObject();
  const auto opened = fso->GetFolder(folder);
  bool truncated = false;
  {
    const ListBox::Batch batch(list);
    list.Clear();
    truncated = AppendAll(list, [&opened](const auto& visit) { opened->ForEachSubFolder(visit); });
  }
  if (truncated) {
    boxes_.Show(TooManyText("sub-folders", folder), kApplicationTitle, kMbIconInformation);
  }
}

}  // namespace salvatrix
