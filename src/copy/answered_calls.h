#pragma once

#include <chrono>
#include <condition_variable>
#include <exception>
#include <functional>
#include <mutex>
#include <thread>

#include "platform/window_upkeep.h"

namespace salvatrix {

/// Runs blocking calls on a thread of their own, one at a time, while the calling thread keeps
/// its window answered through a view's upkeep. Made for one copy job and gone at its end.
class AnsweredCalls final {
 public:
  /// How long the window may go unanswered, the calls' time and the caller's time between
  /// them taken together: well inside the quarter second in which a window must repaint.
  static constexpr std::chrono::milliseconds kAnswerInterval{100};

  /// upkeep must outlive this object; admit says what may pass while a call runs.
  AnsweredCalls(WindowUpkeep& upkeep, std::function<Admission(WindowTraffic)> admit);
  /// Waits for the call that runs, if any (a failure has already reached the caller).
  ~AnsweredCalls();
  AnsweredCalls(const AnsweredCalls&) = delete;
  AnsweredCalls& operator=(const AnsweredCalls&) = delete;

  /// Runs call on the worker thread and returns when it has returned, answering the window
  /// meanwhile. A failure of call is thrown here, on the caller's thread, as it was thrown.
  void Run(const std::function<void()>& call);

 private:
  void Work();
  void Answer();

  WindowUpkeep& upkeep_;
  std::function<Admission(WindowTraffic)> admit_;
  std::chrono::steady_clock::time_point answered_;

  std::mutex mutex_;
  std::condition_variable given_;
  std::condition_variable done_;
  const std::function<void()>* call_ = nullptr;  // guarded by mutex_, like the two below
  std::exception_ptr failure_;
  bool stopping_ = false;
  /// Last: the worker starts once everything it uses is there.
  std::thread worker_;
};

}  // namespace salvatrix
