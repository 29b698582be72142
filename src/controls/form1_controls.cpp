#include "controls/form1_controls.h"

namespace salvatrix {
namespace {

const Colour kMenuText = Colour::System(kColorMenuText);
const Colour kHighlightText = Colour::System(kColorHighlightText);

}  // namespace

Form1Controls::Form1Controls()
    : Command1("Command1", {4320, 2880, 1935, 375}, 27, "NOTES"),
      Check3("Check3", {120, 5880, 1935, 255}, 26, "Select/Deselect All"),
      Check2("Check2", {2160, 5880, 1935, 255}, 25, "Select/Deselect All"),
      List6("List6", {2160, 2160, 1935, 3765}, 23, SelectionMode::kMultiple),
      Text4("Text4", {120, 6480, 7335, 255}, 22, "", false),
      List5("List5", {6480, 3120, 1455, 1230}, 20, SelectionMode::kSingle),
      List4("List4", {120, 2160, 1935, 3765}, 13, SelectionMode::kMultiple),
      Check1("Check1", {4440, 5880, 1695, 255}, 12, "Enable Autocopy"),
      cmdFileCopy("cmdFileCopy", {4320, 5400, 1935, 375}, 11, "Copy Files to Drive"),
      List3("List3", {6480, 4680, 1455, 1425}, 8, SelectionMode::kSingle),
      Text3("Text3", {5760, 1800, 2175, 405}, 7, "Text3", false),
      Text2("Text2", {5760, 2280, 2175, 405}, 6, "Text2", false),
      Timer1("Timer1", 10000),
      List2("List2", {8040, 2160, 1335, 3960}, 3, SelectionMode::kSingle),
      List1("List1", {9480, 2160, 1335, 3960}, 2, SelectionMode::kSingle),
      cmdOverride("cmdOverride", {4320, 4440, 1935, 375}, 1, "Manual Override/Rescan"),
      Text1("Text1", {120, 360, 10695, 1335}, 0, "Text1\r\n", true),
      Image1("Image1", {5040, 3600, 480, 480}),
      Label3("Label3", {2400, 6120, 1335, 255}, 28, "^^modify^^"),
      Label18("Label18", {2160, 1800, 1935, 375}, 24, "Source Sub-folders"),
      Label15("Label15", {6480, 2880, 1455, 255}, 21, "Drives removed"),
      Label14("Label14", {4200, 2280, 1455, 375}, 19, "Re-scanned String"),
      Label13("Label13", {4200, 1800, 1455, 375}, 18, "Runtime String"),
      Label12("Label12", {8160, 6120, 1215, 375}, 17, "^^modify^^"),
      Label11("Label11", {480, 6120, 1335, 255}, 16, "^^modify^^"),
      labelViewer("labelViewer", {4320, 4920, 1935, 375}, 15, ""),
      Label9("Label9", {120, 1800, 1935, 375}, 14, "Source Files"),
      Label2("Label2", {120, 120, 10695, 255}, 10,
             "Device detection (and information with WinXP and above) about newly inserted "
             "drive(s)"),
      Label1("Label1", {6480, 4440, 1455, 255}, 9, "New Drives added"),
      Up("Up", {8040, 1800, 1335, 375}, 5, "Destination"),
      Ru("Ru", {9480, 1800, 1335, 375}, 4, "Drives at Runtime"),
      controls_{&Command1, &Check3,      &Check2,  &List6,   &Text4,       &List5,   &List4,
                &Check1,   &cmdFileCopy, &List3,   &Text3,   &Text2,       &Timer1,  &List2,
                &List1,    &cmdOverride, &Text1,   &Image1,  &Label3,      &Label18, &Label15,
                &Label14,  &Label13,     &Label12, &Label11, &labelViewer, &Label9,  &Label2,
                &Label1,   &Up,          &Ru} {
  Text4.SetColours(kMenuText, kHighlightText);
  Label3.SetColours(kMenuText, kHighlightText);
  Label12.SetColours(kMenuText, kHighlightText);
  Label11.SetColours(kMenuText, kHighlightText);
  labelViewer.SetColours({}, Colour::Rgb(192, 0, 192));
  cmdFileCopy.SetEnabled(false);
  List3.SetEnabled(false);
  List1.SetEnabled(false);
}

}  // namespace salvatrix
