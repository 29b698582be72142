#pragma once

#include "controls/controls.h"
#include "platform/window_hooks.h"

namespace salvatrix::win32ui {

// A list box window kept in step with its list model. Whole-list operations reach the window
// in one pass without painting in between, so that every list operation stays linear up to
// 32,767 entries.

/// Shows one change of list in the list box window.
void ShowListChange(WindowHandle window, const ListBox& list, ListBox::Change change);
/// Makes the window show the whole list again, entries and selection.
void ShowWholeList(WindowHandle window, const ListBox& list);
/// Makes the window's selection the list's again, wherever they differ.
void ShowSelection(WindowHandle window, const ListBox& list);

}  // namespace salvatrix::win32ui
