#pragma once

#include <functional>
#include <string>
#include <string_view>

namespace salvatrix {

class DriveStrings;
class Form1;
class MessageBoxes;
class ListBox;
class TextBox;

inline constexpr std::string_view kNoDrivesText = "No Drives were found";
inline constexpr std::string_view kUnchangedDrivesText =
    "The drive letters are the same as they were at runtime. No new drive letters.";
inline constexpr std::string_view kCompareFailureText = "'CompareDriveLetters' Failure. Error #101";
inline constexpr std::string_view kCopyFailureText = "'StartCopying' Failure. Error #476";

/// Calls visit with each drive root entry of a raw drive list, upper-cased, in list order.
/// The walk stops at the first NUL where an entry would start, or at the end of the text.
void ForEachDriveRoot(std::string_view raw, const std::function<void(std::string)>& visit);

/// The drive letter string of a raw drive list: the letters of its entries, concatenated.
std::string BuildDriveLetterString(std::string_view raw);

/// Drive enumeration into the main window's drive lists and drive letter strings.
class ListDrives final {
 public:
  ListDrives(Form1& form, DriveStrings& drives, MessageBoxes& boxes);

  /// The raw drive list from two calls of the platform (size, then fill), the whole buffer
  /// including its NULs; the empty text when the second call reports failure.
  std::string GetDriveStrings();
  /// Writes the drive letter string of a fresh enumeration, or the no-drives text.
  void ShowDriveLetterString(TextBox& box);
  /// Replace all items of List1, respectively List2, by the entries of a non-empty raw list.
  void FillRuntimeList(std::string_view raw);
  void FillRescannedList(std::string_view raw);
  /// Fill Text3 and List1 (runtime), respectively Text2 and List2 (rescan), each from its own
  /// enumeration, the text box first.
  void ListRuntimeDrives();
  void ListRescannedDrives();

  /// Compares the rescanned drives with those at runtime: reports an unchanged set, lists the
  /// removed drives in List5, or lists the new drives in List3, preselects the first of them as
  /// the destination, copies when Enable Autocopy is ticked, and enables the copy button.
  /// Never fails: a failure inside is reported in its own box and the steps done stay done.
  void CompareDriveLetters();
  /// True when no item of List1 (runtime), respectively List2 (rescanned), equals entry.
  bool IsNotInRuntimeList(const std::string& entry) const;
  bool IsNotInRescannedList(const std::string& entry) const;

  /// The copy job: checks the selection and the destination, confirms, then copies the
  /// selected files and after them the selected sub-folders into the destination's root.
  /// Never fails: a failure stops the job, is reported in its own box and in the status line.
  void StartCopying(ListBox& files, ListBox& destination, ListBox& folders);

  /// True while CompareDriveLetters runs (it may be waiting in one of its boxes).
  bool Comparing() const { return comparisons_ > 0; }
  /// True while every running CompareDriveLetters waits in its no-change box. A comparison
  /// started meanwhile shows no second no-change box; it still clears List3 and List5.
  bool OnlyNoChangeBoxesOpen() const {
    return comparisons_ > 0 && comparisons_ == no_change_boxes_;
  }

 private:
  void CompareSteps();
  static void FillList(ListBox& list, std::string_view raw);
  void ListDrivesInto(TextBox& box, ListBox& list);

  Form1& form_;
  DriveStrings& drives_;
  MessageBoxes& boxes_;
  int comparisons_ = 0;      // running, nested ones included
  int no_change_boxes_ = 0;  // comparisons waiting in their no-change box
  bool copying_ = false;
};

}  // namespace salvatrix
