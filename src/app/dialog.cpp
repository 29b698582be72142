#include "app/dialog.h"

#include <string>

namespace salvatrix {

const std::array<std::string_view, 21>& Dialog::Notes() {
  static constexpr std::array<std::string_view, 21> kNotes = {
      "Remove the intended storage device from the PC if it is currently attached to it.",
      "Place the Salvatrix.exe file in the folder from which data is to be copied.",
      "Start the program and do not add or remove any other devices from the PC.",
      "Close and reopen the program if in doubt about the state of readiness.",
      "Select autocopy if that is what is desired.",
      "When ready, insert the pen drive or other external storage device into its USB slot.",
      "Wait at least 10 seconds to allow autodetection (and autocopying).",
      "Manually override or copy at any time after the drive has been detected.",
      "All files except the Salvatrix.exe file (but no sub-folders) are selected by default.",
      "If the device inserted has more than one drive letter autocopy will ask for "
      "confirmation.",
      "There is no progress bar so look for the COPYING COMPLETED message.",
      "Unless you have all USB2 it will take a long time to copy large files via USB.",
      "Any mapped Network Drives are ignored.",
      "An empty storage device is most likely to not annoy you with explorer windows opening.",
      "Destination files with the same name in the same path ARE ALWAYS OVERWRITTEN.",
      "Folder copying is always fully recursive; all files and sub-folders get copied.",
      "Exercise particular caution if using devices with multiple drive letters.",
      "Devices are now detected under Win2K but their vendor id and info is not displayed.",
      "No checks are made for the availability of adequate storage space.",
      "",
      "",
  };
  return kNotes;
}

void Dialog::Show() {
  if (IsOpen()) {
    return;
  }
  list_ =
      std::make_unique<ListBox>("List1", Geometry{120, 120, 9255, 5100}, 0, SelectionMode::kSingle);
  Form_Load();
  opened.Emit();
}

void Dialog::Close() {
  if (!IsOpen()) {
    return;
  }
  closing.Emit();
  list_.reset();
}

void Dialog::Form_Load() {
  for (std::string_view note : Notes()) {
    list_->AddItem(std::string(note));
  }
}

}  // namespace salvatrix
