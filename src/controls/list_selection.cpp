#include "controls/list_selection.h"

#include "controls/controls.h"

namespace salvatrix {

void SetAllSelected(ListBox& list, bool selected) {
  const ListBox::Batch batch(list);
  const std::int16_t count = list.ListCount();
  for (std::int16_t i = 0; i < count; ++i) {
    list.SetSelected(i, selected);
  }
}

std::int32_t CountSelected(const ListBox& list) {
  std::int32_t selected = 0;
  const std::int16_t count = list.ListCount();
  for (std::int16_t i = 0; i < count; ++i) {
    if (list.Selected(i)) {
      ++selected;
    }
  }
  return selected;
}

}  // namespace salvatrix
