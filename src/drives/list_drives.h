#pragma once

#include <functional>
#include <string>
#include <string_view>

namespace salvatrix {

class DriveStrings;
class Form1Controls;
class ListBox;
class TextBox;

inline constexpr std::string_view kNoDrivesText = "No Drives were found";

/// Calls visit with each drive root entry of a raw drive list, upper-cased, in list order.
/// The walk stops at the first NUL where an entry would start, or at the end of the text.
void ForEachDriveRoot(std::string_view raw, const std::function<void(std::string)>& visit);

/// The drive letter string of a raw drive list: the letters of its entries, concatenated.
std::string BuildDriveLetterString(std::string_view raw);

/// Drive enumeration into the main window's drive lists and drive letter strings.
class ListDrives final {
 public:
  ListDrives(Form1Controls& controls, DriveStrings& drives);

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

 private:
  static void FillList(ListBox& list, std::string_view raw);
  void ListDrivesInto(TextBox& box, ListBox& list);

  Form1Controls& controls_;
  DriveStrings& drives_;
};

}  // namespace salvatrix
