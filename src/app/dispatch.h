#pragma once

#include <functional>

namespace salvatrix {

class MessageBoxes;

/// Runs one handler for the window's dispatch. A failure that no procedure caught is shown
/// with its text in a critical box; the result is then false and the program must end.
bool DispatchHandler(MessageBoxes& boxes, const std::function<void()>& handler);

}  // namespace salvatrix
