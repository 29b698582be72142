#pragma once

#include <string>
#include <vector>

#include "controls/controls.h"

namespace salvatrix::testing {

/// The texts of a list, in order.
inline std::vector<std::string> Items(const ListBox& list) {
  std::vector<std::string> items;
  for (std::int16_t i = 0; i < list.ListCount(); ++i) {
    items.push_back(list.List(i));
  }
  return items;
}

}  // namespace salvatrix::testing
