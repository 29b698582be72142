#include "drives/list_drives.h"

#include <cstdint>

#include "app/form1.h"
#include "controls/controls.h"
#include "platform/drive_strings.h"
#include "platform/message_boxes.h"

namespace salvatrix {
namespace {

char UpperAscii(char c) {
  return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c;
}

}  // namespace

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

ListDrives::ListDrives(Form1& form, DriveStrings& drives, MessageBoxes& boxes)
    : form_(form), drives_(drives), boxes_(boxes) {}

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
  FillList(form_.List1, raw);
}

void ListDrives::FillRescannedList(std::string_view raw) {
  FillList(form_.List2, raw);
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
  ListDrivesInto(form_.Text3, form_.List1);
}

void ListDrives::ListRescannedDrives() {
  ListDrivesInto(form_.Text2, form_.List2);
}

}  // namespace salvatrix

namespace salvatrix {
namespace {

// Counts one up for its lifetime, whichever way the scope is left.
class Count final {
 public:
  explicit Count(int& count) : count_(count) { ++count_; }
  ~Count() { --count_; }
  Count(const Count&) = delete;
  Count& operator=(const Count&) = delete;

 private:
  int& count_;
};

bool IsNotIn(const ListBox& list, const std::string& entry) {
  bool result = true;
  const std::int16_t count = list.ListCount();
  for (std::int16_t i = 0; i < count; ++i) {
    if (list.List(i) == entry) {
      result = false;
    }
  }
  return result;
}

}  // namespace

bool ListDrives::IsNotInRuntimeList(const std::string& entry) const {
  return IsNotIn(form_.List1, entry);
}

bool ListDrives::IsNotInRescannedList(const std::string& entry) const {
  return IsNotIn(form_.List2, entry);
}

void ListDrives::CompareDriveLetters() {
  const Count running(comparisons_);
  try {
    CompareSteps();
  } catch (...) {
    boxes_.Show(kCompareFailureText, kApplicationTitle, kMbOk);
  }
}

void ListDrives::CompareSteps() {
  if (form_.Text2.Text() == form_.Text3.Text()) {
    // A tick from the open box's message loop compares again, so a drive mounted meanwhile is
    // still found; telling twice that nothing changed would only stack up boxes.
    if (no_change_boxes_ == 0) {
      const Count open(no_change_boxes_);
      boxes_.Show(kUnchangedDrivesText, kApplicationTitle, kMbOk);
    }
    form_.List3.Clear();
    form_.List5.Clear();
    return;
  }
  const std::int16_t runtime_count = form_.List1.ListCount();
  const std::int16_t rescanned_count = form_.List2.ListCount();
  if (rescanned_count < runtime_count) {
    form_.List3.Clear();
    form_.List5.Clear();
    const std::int16_t count = form_.List1.ListCount();
    for (std::int16_t i = 0; i < count; ++i) {
      const std::string entry = form_.List1.List(i);
      if (IsNotInRescannedList(entry)) {
        form_.List5.AddItem(entry);
      }
    }
    return;
  }
  std::int16_t first_new = -1;
  form_.List3.Clear();
  form_.List5.Clear();
  const std::int16_t count = form_.List2.ListCount();
  for (std::int16_t i = 0; i < count; ++i) {
    const std::string entry = form_.List2.List(i);
    if (IsNotInRuntimeList(entry)) {
      form_.List3.AddItem(entry);
      if (first_new < 0) {
        first_new = i;
      }
    }
  }
  // Fails when the strings differed but no entry is new: the lists and strings disagree.
  form_.List2.SetSelected(first_new, true);
  form_.List3.SetSelected(0, true);
  if (form_.Check1.Value() != 0) {
    StartCopying(form_.List4, form_.List2, form_.List6);
    form_.Check1.SetValue(0);
  }
  form_.Check1.SetEnabled(false);
  form_.cmdFileCopy.SetEnabled(true);
}

}  // namespace salvatrix
