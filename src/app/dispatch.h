#pragma once

#include <functional>

namespace salvatrix {

class MessageBoxes;

/// Runs one handler for the window's dispatch. A failure that no procedure caught is shown
/// with its text in a critical box; the result is then false and the program must end.
/// before_report runs first, so a view can stop its timers and handlers before the box's
/// modal loop could run more of them against a program that is about to end.
bool DispatchHandler(MessageBoxes& boxes, const std::function<void()>& handler,
                     const std::function<void()>& before_report = {});

}  // namespace salvatrix
