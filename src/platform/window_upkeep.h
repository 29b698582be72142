#pragma once

#include <functional>

namespace salvatrix {

/// What reaches a window besides the window system's own upkeep, as far as a wait cares.
enum class WindowTraffic {
  kInput,          ///< clicks, keys, the wheel, touch, drops, a close asked for by the user
  kTimer,          ///< the window's clocks
  kDeviceMessage,  ///< device arrivals and the descriptors they come through
};

/// What becomes of traffic that arrives while the window's thread waits.
enum class Admission {
  kHandle,   ///< handled as the event loop would
  kLeave,    ///< left where it is, to be handled once the event loop runs again
  kDiscard,  ///< taken away unhandled
};

/// How a view keeps its window answered while the window's thread waits for a blocking call.
class WindowUpkeep {
 public:
  /// Handles, without waiting, what the window system has for this thread now: always its
  /// liveness checks (X11 _NET_WM_PING, the Wayland ping, Windows' look at the queue) and
  /// paints; each kind of WindowTraffic as admit says. Returns once nothing of that is pending.
  virtual void AnswerPending(const std::function<Admission(WindowTraffic)>& admit) = 0;

 protected:
  ~WindowUpkeep() = default;
};

}  // namespace salvatrix
