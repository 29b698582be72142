#pragma once

#include <functional>

#include "platform/window_upkeep.h"

namespace salvatrix::win32ui {

/// Keeps the thread's windows answered while it waits: each answer looks at the thread's queue
/// (so Windows never takes the window for hung), handles the messages other threads send and
/// the paints; input and clocks go as the core admits them. A device arrival is a sent message
/// and so reaches the window procedure whatever is admitted; the message hook holds it back.
class Win32WindowUpkeep final : public WindowUpkeep {
 public:
  void AnswerPending(const std::function<Admission(WindowTraffic)>& admit) override;
};

}  // namespace salvatrix::win32ui
