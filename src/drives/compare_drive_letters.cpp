#include "drives/compare_drive_letters.h"

#include <cstdint>

#include "controls/form1_controls.h"
#include "copy/start_copying.h"
#include "platform/message_boxes.h"
#include "platform/scope_exit.h"

namespace salvatrix {
namespace {

// Counts one up until the scope is left, whichever way.
auto Count(int& count) {
  ++count;
  return ScopeExit([&count] { --count; });
}

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

// Adds to into each entry of from that other does not hold, in from's order. The result is the
// index in from of the first one, or -1.
std::int16_t AddMissing(const ListBox& from, const ListBox& other, ListBox& into) {
  std::int16_t first = -1;
  const std::int16_t count = from.ListCount();
  for (std::int16_t i = 0; i < count; ++i) {
    const std::string entry = from.List(i);
    if (IsNotIn(other, entry)) {
      into.AddItem(entry);
      if (first < 0) {
        first = i;
      }
    }
  }
  return first;
}

}  // namespace

DriveComparison::DriveComparison(Form1Controls& controls, MessageBoxes& boxes, CopyJob& copy)
    : controls_(controls), boxes_(boxes), copy_(copy) {}

bool DriveComparison::IsNotInRuntimeList(const std::string& entry) const {
  return IsNotIn(controls_.List1, entry);
}

bool DriveComparison::IsNotInRescannedList(const std::string& entry) const {
  return IsNotIn(controls_.List2, entry);
}

void DriveComparison::CompareDriveLetters() {
  const auto running = Count(comparisons_);
  try {
    CompareSteps();
  } catch (...) {
    boxes_.Show(kCompareFailureText, kApplicationTitle, kMbOk);
  }
}

void DriveComparison::CompareSteps() {
  if (controls_.Text2.Text() == controls_.Text3.Text()) {
    // A tick from the open box's message loop compares again, so a drive mounted meanwhile is
    // still found; telling twice that nothing changed would only stack up boxes.
    if (no_change_boxes_ == 0) {
      const auto open = Count(no_change_boxes_);
      boxes_.Show(kUnchangedDrivesText, kApplicationTitle, kMbOk);
    }
    controls_.List3.Clear();
    controls_.List5.Clear();
    return;
  }
  const std::int16_t runtime_count = controls_.List1.ListCount();
  const std::int16_t rescanned_count = controls_.List2.ListCount();
  controls_.List3.Clear();
  controls_.List5.Clear();
  if (rescanned_count < runtime_count) {
    AddMissing(controls_.List1, controls_.List2, controls_.List5);
    return;
  }
  const std::int16_t first_new = AddMissing(controls_.List2, controls_.List1, controls_.List3);
  // Fails when the strings differed but no entry is new: the lists and strings disagree.
  controls_.List2.SetSelected(first_new, true);
  controls_.List3.SetSelected(0, true);
  if (controls_.Check1.Value() != 0) {
    copy_.StartCopying(controls_.List4, controls_.List2, controls_.List6);
    controls_.Check1.SetValue(0);
  }
  controls_.Check1.SetEnabled(false);
  controls_.cmdFileCopy.SetEnabled(true);
}

}  // namespace salvatrix
