#pragma once

#include <cstdint>

namespace salvatrix {

class ListBox;

/// Sets the selected state of every item of list; views see it as one change.
void SetAllSelected(ListBox& list, bool selected);

/// The number of selected items of list.
std::int32_t CountSelected(const ListBox& list);

}  // namespace salvatrix
