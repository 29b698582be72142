#include "drives/list_drives.h"

#include <cstdint>

#include "controls/form1_controls.h"
#include "platform/drive_roots.h"
#include "platform/drive_strings.h"

namespace salvatrix {

void ForEachDriveRoot(std::string_view raw, const std::function<void(std::string)>& visit) {
  for (std::size_t pos = 0; pos < raw.size() && raw[pos] != '\0'; pos += 4) {
    std::string entry(raw.substr(pos, 3));
    for (char& c : entry) {
      c = UpperAscii(c);
    }
    visit(std::move(entry));
  }
}

std::string BuildDriveLetterString(std::string_view raw) {
  std::string letters;
  ForEachDriveRoot(raw, [&letters](std::string entry) { letters += entry.front(); });
  return letters;
}

ListDrives::ListDrives(Form1Controls& controls, DriveStrings& drives)
    : controls_(controls), drives_(drives) {}

std::string ListDrives::GetDriveStrings() {
  const std::uint32_t needed = drives_.GetLogicalDriveStrings(0, nullptr);
  std::string buffer(needed, '\0');
  // No retry when the drive set changes between the two calls: whatever the second call left
  // in the buffer is the answer.
  if (drives_.GetLogicalDriveStrings(needed, buffer.data()) == 0) {
    return {};
  }
  return buffer;
}

void ListDrives::ShowDriveLetterString(TextBox& box) {
  const std::string raw = GetDriveStrings();
  box.SetText(raw.empty() ? std::string(kNoDrivesText) : BuildDriveLetterString(raw));
}

void ListDrives::FillList(ListBox& list, std::string_view raw) {
  list.Clear();
  ForEachDriveRoot(raw, [&list](std::string entry) { list.AddItem(std::move(entry)); });
}

void ListDrives::FillRuntimeList(std::string_view raw) {
  FillList(controls_.List1, raw);
}

void ListDrives::FillRescannedList(std::string_view raw) {
  FillList(controls_.List2, raw);
}

void ListDrives::ListDrivesInto(TextBox& box, ListBox& list) {
  ShowDriveLetterString(box);
  const std::string raw = GetDriveStrings();
  if (raw.empty()) {
    list.Clear();
    list.AddItem(std::string(kNoDrivesText));
    return;
  }
  FillList(list, raw);
}

void ListDrives::ListRuntimeDrives() {
  ListDrivesInto(controls_.Text3, controls_.List1);
}

void ListDrives::ListRescannedDrives() {
  ListDrivesInto(controls_.Text2, controls_.List2);
}

}  // namespace salvatrix
