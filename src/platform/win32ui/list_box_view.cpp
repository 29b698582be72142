#include "platform/win32ui/list_box_view.h"

#include <windows.h>

#include <algorithm>
#include <cstdint>
#include <string>
#include <vector>

#include "platform/win32/win32_platform.h"

namespace salvatrix::win32ui {
namespace {

HWND ToHwnd(WindowHandle window) {
  return reinterpret_cast<HWND>(window);
}

// Keeps a list box from painting and updating its scroll bar for every entry while a whole run
// of them changes; it paints once at the end.
class QuietList final {
 public:
  explicit QuietList(HWND list) : list_(list) { ::SendMessageW(list_, WM_SETREDRAW, FALSE, 0); }
  ~QuietList() {
    ::SendMessageW(list_, WM_SETREDRAW, TRUE, 0);
    ::InvalidateRect(list_, nullptr, TRUE);
  }
  QuietList(const QuietList&) = delete;
  QuietList& operator=(const QuietList&) = delete;

 private:
  HWND list_;
};

// Appends the model's entries first ... end - 1, unselected.
void AddEntries(HWND window, const ListBox& list, int first, int end) {
  std::vector<std::wstring> texts;
  texts.reserve(static_cast<std::size_t>(std::max(end - first, 0)));
  std::size_t bytes = 0;
  for (int i = first; i < end; ++i) {
    texts.push_back(win32::Widen(list.List(static_cast<std::int16_t>(i))));
    bytes += (texts.back().size() + 1) * sizeof(wchar_t);
  }
  if (texts.size() > 1) {
    // Room for all of them at once rather than a reallocation every few entries.
    ::SendMessageW(window, LB_INITSTORAGE, texts.size(), static_cast<LPARAM>(bytes));
  }
  for (const std::wstring& text : texts) {
    ::SendMessageW(window, LB_ADDSTRING, 0, reinterpret_cast<LPARAM>(text.c_str()));
  }
}

void ShowSelected(HWND window, const ListBox& list, std::int16_t index) {
  const bool selected = list.Selected(index);
  if (list.Mode() == SelectionMode::kMultiple) {
    ::SendMessageW(window, LB_SETSEL, selected ? TRUE : FALSE, index);
    return;
  }
  const LRESULT shown = ::SendMessageW(window, LB_GETCURSEL, 0, 0);
  if (selected && shown != index) {
    ::SendMessageW(window, LB_SETCURSEL, static_cast<WPARAM>(index), 0);
  } else if (!selected && shown == index) {
    ::SendMessageW(window, LB_SETCURSEL, static_cast<WPARAM>(-1), 0);
  }
}

// Shows the model's selected flags of the entries first ... end - 1, one message per run of
// equal flags.
void ShowRuns(HWND window, const ListBox& list, int first, int end) {
  if (list.Mode() == SelectionMode::kSingle) {
    ShowSelection(reinterpret_cast<WindowHandle>(window), list);
    return;
  }
  for (int i = first; i < end;) {
    const bool selected = list.Selected(static_cast<std::int16_t>(i));
    int last = i;
    while (last + 1 < end && list.Selected(static_cast<std::int16_t>(last + 1)) == selected) {
      ++last;
    }
    if (i == last) {
      ::SendMessageW(window, LB_SETSEL, selected ? TRUE : FALSE, i);
    } else {
      // The range is deselected when it is given from its last entry to its first.
      ::SendMessageW(window, LB_SELITEMRANGEEX, static_cast<WPARAM>(selected ? i : last),
                     selected ? last : i);
    }
    i = last + 1;
  }
}

}  // namespace

void ShowListChange(WindowHandle handle, const ListBox& list, ListBox::Change change) {
  HWND window = ToHwnd(handle);
  const int first = change.index;
  const int end = std::min(first + change.count, static_cast<int>(list.ListCount()));
  switch (change.kind) {
    case ListBox::Change::Kind::kCleared:
      ::SendMessageW(window, LB_RESETCONTENT, 0, 0);
      return;
    case ListBox::Change::Kind::kAdded:
      if (first < 0 || first >= end) {
        return;
      }
      if (first != ::SendMessageW(window, LB_GETCOUNT, 0, 0)) {
        ShowWholeList(handle, list);
      } else if (end - first == 1) {
        AddEntries(window, list, first, end);
        if (list.Selected(static_cast<std::int16_t>(first))) {
          ShowSelected(window, list, static_cast<std::int16_t>(first));
        }
      } else {
        const QuietList quiet(window);
        AddEntries(window, list, first, end);
        ShowRuns(window, list, first, end);
      }
      return;
    case ListBox::Change::Kind::kSelection:
      if (first < 0 || first >= end) {
        return;
      }
      if (end - first == 1) {
        ShowSelected(window, list, static_cast<std::int16_t>(first));
      } else {
        const QuietList quiet(window);
        ShowRuns(window, list, first, end);
      }
      return;
  }
}

void ShowWholeList(WindowHandle handle, const ListBox& list) {
  HWND window = ToHwnd(handle);
  const QuietList quiet(window);
  ::SendMessageW(window, LB_RESETCONTENT, 0, 0);
  AddEntries(window, list, 0, list.ListCount());
  ShowRuns(window, list, 0, list.ListCount());
}

void ShowSelection(WindowHandle handle, const ListBox& list) {
  HWND window = ToHwnd(handle);
  if (list.Mode() == SelectionMode::kSingle) {
    const std::int16_t index = list.ListIndex();
    if (::SendMessageW(window, LB_GETCURSEL, 0, 0) != index) {
      ::SendMessageW(window, LB_SETCURSEL, static_cast<WPARAM>(index), 0);
    }
    return;
  }
  // Only the entries that differ, so that a click repaints what it changed and no more.
  const std::int16_t count = list.ListCount();
  for (std::int16_t i = 0; i < count; ++i) {
    const bool shown = ::SendMessageW(window, LB_GETSEL, static_cast<WPARAM>(i), 0) > 0;
    if (shown != list.Selected(i)) {
      ShowSelected(window, list, i);
    }
  }
}

}  // namespace salvatrix::win32ui
