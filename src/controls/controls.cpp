#include "controls/controls.h"

#include <algorithm>
#include <exception>

namespace salvatrix {

Control::Control(std::string name, ControlKind kind, Geometry geometry, int tab_index)
    : name_(std::move(name)), kind_(kind), geometry_(geometry), tab_index_(tab_index) {}

void Control::SetEnabled(bool enabled) {
  if (enabled_ == enabled) {
    return;
  }
  enabled_ = enabled;
  changed.Emit();
}

void Control::SetColours(Colour back, Colour fore) {
  back_colour_ = back;
  fore_colour_ = fore;
  changed.Emit();
}

CaptionedControl::CaptionedControl(std::string name, ControlKind kind, Geometry geometry,
                                   int tab_index, std::string caption)
    : Control(std::move(name), kind, geometry, tab_index), caption_(std::move(caption)) {}

void CaptionedControl::SetCaption(std::string caption) {
  if (caption_ == caption) {
    return;
  }
  caption_ = std::move(caption);
  changed.Emit();
}

Label::Label(std::string name, Geometry geometry, int tab_index, std::string caption)
    : CaptionedControl(std::move(name), ControlKind::kLabel, geometry, tab_index,
                       std::move(caption)) {}

CommandButton::CommandButton(std::string name, Geometry geometry, int tab_index,
                             std::string caption)
    : CaptionedControl(std::move(name), ControlKind::kButton, geometry, tab_index,
                       std::move(caption)) {}

void CommandButton::Press() {
  if (Enabled()) {
    click.Emit();
  }
}

CheckBox::CheckBox(std::string name, Geometry geometry, int tab_index, std::string caption)
    : CaptionedControl(std::move(name), ControlKind::kCheckBox, geometry, tab_index,
                       std::move(caption)) {}

void CheckBox::SetValue(int value) {
  const int normalised = value != 0 ? 1 : 0;
  if (value_ == normalised) {
    return;
  }
  value_ = normalised;
  changed.Emit();
}

void CheckBox::UserClick() {
  if (!Enabled()) {
    return;
  }
  SetValue(value_ == 0 ? 1 : 0);
  click.Emit();
}

TextBox::TextBox(std::string name, Geometry geometry, int tab_index, std::string text,
                 bool multi_line)
    : Control(std::move(name), ControlKind::kTextBox, geometry, tab_index),
      text_(std::move(text)),
      multi_line_(multi_line) {}

void TextBox::SetText(std::string text) {
  if (text_ == text) {
    return;
  }
  text_ = std::move(text);
  changed.Emit();
}

ListBox::Batch::Batch(ListBox& list) : list_(list), failures_on_entry_(std::uncaught_exceptions()) {
  ++list_.batch_depth_;
}

ListBox::Batch::~Batch() noexcept(false) {
  if (--list_.batch_depth_ > 0) {
    return;
  }
  if (std::uncaught_exceptions() == failures_on_entry_) {
    list_.SendHeldChanges();
    return;
  }
  // The list stays as far as the failed operation got; the views must show that too, but a
  // failure of theirs must not replace the one already on its way.
  try {
    list_.SendHeldChanges();
  } catch (...) {
  }
}

ListBox::ListBox(std::string name, Geometry geometry, int tab_index, SelectionMode mode)
    : Control(std::move(name), ControlKind::kListBox, geometry, tab_index), mode_(mode) {}

void ListBox::Notify(Change change) {
  if (batch_depth_ == 0) {
    items_changed.Emit(change);
    return;
  }
  switch (change.kind) {
    case Change::Kind::kCleared:
      held_clear_ = true;
      held_added_from_ = -1;
      held_selection_first_ = -1;
      held_selection_last_ = -1;
      return;
    case Change::Kind::kAdded:
      if (held_added_from_ < 0) {
        held_added_from_ = change.index;
      }
      return;
    case Change::Kind::kSelection:
      // Added items are shown with the flags they have when the batch ends.
      if (held_added_from_ >= 0 && change.index >= held_added_from_) {
        return;
      }
      if (held_selection_first_ < 0 || change.index < held_selection_first_) {
        held_selection_first_ = change.index;
      }
      held_selection_last_ = std::max(held_selection_last_, change.index + change.count - 1);
      return;
  }
}

void ListBox::SendHeldChanges() {
  const int count = ListCount();
  const bool clear = std::exchange(held_clear_, false);
  const int added_from = std::exchange(held_added_from_, -1);
  const int first = std::exchange(held_selection_first_, -1);
  int last = std::exchange(held_selection_last_, -1);
  if (clear) {
    items_changed.Emit({Change::Kind::kCleared, -1, 0});
  }
  if (added_from >= 0 && added_from < count) {
    items_changed.Emit({Change::Kind::kAdded, static_cast<std::int16_t>(added_from),
                        static_cast<std::int16_t>(count - added_from)});
  }
  last = std::min(last, (added_from >= 0 ? added_from : count) - 1);
  if (first >= 0 && first <= last) {
    items_changed.Emit({Change::Kind::kSelection, static_cast<std::int16_t>(first),
                        static_cast<std::int16_t>(last - first + 1)});
  }
}

void ListBox::RaiseClick() {
  SendHeldChanges();
  click.Emit();
}

std::string ListBox::List(std::int16_t index) const {
  if (index < 0 || index >= ListCount()) {
    return {};
  }
  return items_[static_cast<std::size_t>(index)].first;
}

void ListBox::AddItem(std::string text) {
  if (items_.size() >= static_cast<std::size_t>(kMaxItems)) {
    throw Failure("The list " + Name() + " cannot hold more than 32767 items.");
  }
  items_.emplace_back(std::move(text), false);
  Notify({Change::Kind::kAdded, static_cast<std::int16_t>(items_.size() - 1)});
}

void ListBox::Clear() {
  items_.clear();
  single_selected_ = -1;
  Notify({Change::Kind::kCleared, -1, 0});
}

void ListBox::CheckIndex(std::int16_t index) const {
  if (index < 0 || index >= ListCount()) {
    throw Failure("Invalid property array index " + std::to_string(index) + " in " + Name() + ".");
  }
}

bool ListBox::Selected(std::int16_t index) const {
  CheckIndex(index);
  return items_[static_cast<std::size_t>(index)].second;
}

std::int16_t ListBox::ListIndex() const {
  if (mode_ == SelectionMode::kSingle) {
    return single_selected_;
  }
  for (std::size_t i = items_.size(); i-- > 0;) {
    if (items_[i].second) {
      return static_cast<std::int16_t>(i);
    }
  }
  return -1;
}

void ListBox::SetSelected(std::int16_t index, bool selected) {
  CheckIndex(index);
  auto& flag = items_[static_cast<std::size_t>(index)].second;
  if (mode_ == SelectionMode::kMultiple) {
    if (flag != selected) {
      flag = selected;
      Notify({Change::Kind::kSelection, index});
    }
    return;
  }
  const std::int16_t before = single_selected_;
  if (selected) {
    if (before >= 0 && before != index) {
      items_[static_cast<std::size_t>(before)].second = false;
      Notify({Change::Kind::kSelection, before});
    }
    flag = true;
    single_selected_ = index;
  } else {
    flag = false;
    if (before == index) {
      single_selected_ = -1;
    }
  }
  if (single_selected_ != before) {
    Notify({Change::Kind::kSelection, index});
    if (selected) {
      RaiseClick();
    }
  }
}

void ListBox::UserClick(std::int16_t index) {
  if (!Enabled() || index < 0 || index >= ListCount()) {
    return;
  }
  if (mode_ == SelectionMode::kMultiple) {
    SetSelected(index, !Selected(index));
    RaiseClick();
    return;
  }
  if (ListIndex() == index) {
    // The selection does not move, but a click on the selected entry is still a click.
    RaiseClick();
    return;
  }
  SetSelected(index, true);
}

Picture::Picture(std::string name, Geometry geometry)
    : Control(std::move(name), ControlKind::kPicture, geometry, -1) {}

Timer::Timer(std::string name, int interval_ms)
    : Control(std::move(name), ControlKind::kTimer, {}, -1), interval_ms_(interval_ms) {}

}  // namespace salvatrix
