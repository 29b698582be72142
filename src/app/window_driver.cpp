#include "app/window_driver.h"

#include <algorithm>
#include <cstdint>
#include <exception>
#include <utility>

#include "app/dispatch.h"
#include "app/form1.h"
#include "platform/drive_strings.h"

namespace salvatrix {
namespace {

bool TakesFocus(const Control& control) {
  switch (control.Kind()) {
    case ControlKind::kButton:
    case ControlKind::kCheckBox:
    case ControlKind::kListBox:
    case ControlKind::kTextBox:
      return control.TabIndex() >= 0;
    case ControlKind::kLabel:
    case ControlKind::kPicture:
    case ControlKind::kTimer:
      break;
  }
  return false;
}

}  // namespace

WindowDriver::WindowDriver(Form1& form, MessageBoxes& boxes, Host& host)
    : form_(form), boxes_(boxes), host_(host) {}

bool WindowDriver::Run(const std::function<void()>& handler) {
  if (ending_) {
    return false;
  }
  // The views keep a copying window's input, clocks and device messages away from here; this
  // is for whatever a window system delivers all the same (a message sent by another program).
  if (form_.Copy().Copying()) {
    return true;
  }
  const bool ran = DispatchHandler(
      boxes_,
      [this, &handler] {
        host_.RethrowKept();
        handler();
        host_.RethrowKept();
      },
      [this] {
        ending_ = true;
        host_.StopClocks();
      });
  if (ran) {
    return true;
  }
  host_.EndProgram();
  return false;
}

bool WindowDriver::Press(CommandButton& button) {
  return Run([&button] { button.Press(); });
}

bool WindowDriver::Click(CheckBox& check) {
  return Run([&check] { check.UserClick(); });
}

bool WindowDriver::ClickItem(ListBox& list, int row) {
  if (row < 0 || row >= list.ListCount()) {
    return !ending_;
  }
  return Run([&list, row] { list.UserClick(static_cast<std::int16_t>(row)); });
}

bool WindowDriver::Edit(TextBox& box, std::string text) {
  return Run([&box, &text] { box.SetText(std::move(text)); });
}

bool WindowDriver::Tick(Timer& timer) {
  return Run([&timer] { timer.tick.Emit(); });
}

void WindowDriver::Close() {
  if (ending_ || unloaded_) {
    return;
  }
  unloaded_ = true;
  Run([this] {
    int cancel = 0;
    form_.Form_Unload(cancel);
  });
}

std::vector<Control*> WindowDriver::TabOrder() const {
  std::vector<Control*> order;
  for (Control* control : form_.Controls()) {
    if (control->Kind() != ControlKind::kTimer) {
      order.push_back(control);
    }
  }
  std::stable_sort(order.begin(), order.end(), [](const Control* a, const Control* b) {
    const int ta = a->TabIndex();
    const int tb = b->TabIndex();
    if ((ta < 0) != (tb < 0)) {
      return tb < 0;
    }
    return ta < tb;
  });
  return order;
}

std::vector<Control*> WindowDriver::FocusOrder() const {
  std::vector<Control*> order = TabOrder();
  std::erase_if(order, [](const Control* control) { return !TakesFocus(*control); });
  return order;
}

Control* WindowDriver::FirstFocus() const {
  for (Control* control : FocusOrder()) {
    if (control->Enabled()) {
      return control;
    }
  }
  return nullptr;
}

bool WindowDriver::ClockRuns(const Timer& timer) const {
  return !ending_ && timer.Enabled() && timer.Interval() > 0;
}

bool WindowDriver::ShowsDriveTips(const ListBox& list) const {
  return &list == &form_.List1 || &list == &form_.List2 || &list == &form_.List3 ||
         &list == &form_.List5;
}

std::string WindowDriver::ItemTip(const ListBox& list, int row) const {
  if (!ShowsDriveTips(list) || row < 0 || row >= list.ListCount()) {
    return {};
  }
  try {
    return form_.Services().drives.DescribeDrive(list.List(static_cast<std::int16_t>(row)));
  } catch (const std::exception&) {
    // A tooltip is a courtesy; the entry shows without one.
    return {};
  }
}

}  // namespace salvatrix
