#pragma once

#include <vector>

#include "controls/controls.h"

namespace salvatrix {

/// The 31 controls of the main window under their names, with the place, tab position,
/// caption and state each starts with. The subsystems work on these; Form1 adds the handlers.
class Form1Controls {
 public:
  Form1Controls();
  Form1Controls(const Form1Controls&) = delete;
  Form1Controls& operator=(const Form1Controls&) = delete;

  // The controls, in creation order.
  CommandButton Command1;
  CheckBox Check3;
  CheckBox Check2;
  ListBox List6;
  TextBox Text4;
  ListBox List5;
  ListBox List4;
  CheckBox Check1;
  CommandButton cmdFileCopy;
  ListBox List3;
  TextBox Text3;
  TextBox Text2;
  Timer Timer1;
  ListBox List2;
  ListBox List1;
  CommandButton cmdOverride;
  TextBox Text1;
  Picture Image1;
  Label Label3;
  Label Label18;
  Label Label15;
  Label Label14;
  Label Label13;
  Label Label12;
  Label Label11;
  Label labelViewer;
  Label Label9;
  Label Label2;
  Label Label1;
  Label Up;
  Label Ru;

  /// Every control, in creation order.
  const std::vector<Control*>& Controls() const { return controls_; }

 private:
  std::vector<Control*> controls_;
};

}  // namespace salvatrix
