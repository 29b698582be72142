#pragma once

// Runs an action when a scope is left, whichever way.

#include <utility>

namespace salvatrix {

template <typename Action>
class ScopeExit final {
 public:
  explicit ScopeExit(Action action) : action_(std::move(action)) {}
  ~ScopeExit() {
    if (armed_) {
      action_();
    }
  }
  ScopeExit(const ScopeExit&) = delete;
  ScopeExit& operator=(const ScopeExit&) = delete;

  /// The scope is left as it should be: the action is not wanted.
  void Dismiss() { armed_ = false; }

 private:
  Action action_;
  bool armed_ = true;
};

}  // namespace salvatrix
