#include "app/dispatch.h"

#include <exception>
#include <string>

#include "platform/message_boxes.h"

namespace salvatrix {

bool DispatchHandler(MessageBoxes& boxes, const std::function<void()>& handler,
                     const std::function<void()>& before_report) {
  std::string text;
  try {
    handler();
    return true;
  } catch (const std::exception& error) {
    text = error.what();
  } catch (...) {
    text = "An unexpected error occurred.";
  }
  if (before_report) {
    before_report();
  }
  // Shown outside the catch block so that a box that fails in turn does not nest exceptions.
  boxes.Show(text.empty() ? "An unexpected error occurred." : text, kApplicationTitle,
             kMbIconError);
  return false;
}

}  // namespace salvatrix
