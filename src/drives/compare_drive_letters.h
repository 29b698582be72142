#pragma once

#include <string>
#include <string_view>

namespace salvatrix {

class CopyJob;
class Form1Controls;
class MessageBoxes;

inline constexpr std::string_view kUnchangedDrivesText =
    "The drive letters are the same as they were at runtime. No new drive letters.";
inline constexpr std::string_view kCompareFailureText = "'CompareDriveLetters' Failure. Error #101";

/// The comparison of the drives found now (List2, Text2) with those at runtime (List1, Text3).
class DriveComparison final {
 public:
  /// copy is the job an autocopy starts.
  DriveComparison(Form1Controls& controls, MessageBoxes& boxes, CopyJob& copy);
  DriveComparison(const DriveComparison&) = delete;
  DriveComparison& operator=(const DriveComparison&) = delete;

  /// Compares the rescanned drives with those at runtime: reports an unchanged set, lists the
  /// removed drives in List5, or lists the new drives in List3, preselects the first of them as
  /// the destination, copies when Enable Autocopy is ticked, and enables the copy button.
  /// Never fails: a failure inside is reported in its own box and the steps done stay done.
  void CompareDriveLetters();
  /// True when no item of List1 (runtime), respectively List2 (rescanned), equals entry.
  bool IsNotInRuntimeList(const std::string& entry) const;
  bool IsNotInRescannedList(const std::string& entry) const;

  /// True while CompareDriveLetters runs (it may be waiting in one of its boxes).
  bool Comparing() const { return comparisons_ > 0; }
  /// True while every running CompareDriveLetters waits in its no-change box. A comparison
  /// started meanwhile shows no second no-change box; it still clears List3 and List5.
  bool OnlyNoChangeBoxesOpen() const {
    return comparisons_ > 0 && comparisons_ == no_change_boxes_;
  }

 private:
  void CompareSteps();

  Form1Controls& controls_;
  MessageBoxes& boxes_;
  CopyJob& copy_;
  int comparisons_ = 0;      // running, nested ones included
  int no_change_boxes_ = 0;  // comparisons waiting in their no-change box
};

}  // namespace salvatrix
