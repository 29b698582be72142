#include "copy/answered_calls.h"

#include <utility>

namespace salvatrix {

AnsweredCalls::AnsweredCalls(WindowUpkeep& upkeep, std::function<Admission(WindowTraffic)> admit)
    : upkeep_(upkeep),
      admit_(std::move(admit)),
      answered_(std::chrono::steady_clock::now()),
      worker_([this] { Work(); }) {}

AnsweredCalls::~AnsweredCalls() {
  {
    const std::lock_guard lock(mutex_);
    stopping_ = true;
  }
  given_.notify_one();
  worker_.join();
}

void AnsweredCalls::Run(const std::function<void()>& call) {
  std::unique_lock lock(mutex_);
  call_ = &call;
  failure_ = nullptr;
  given_.notify_one();
  // The deadline runs on from the last answer, not from this call: a long row of short calls
  // must not keep the window silent any more than one long call.
  const auto returned = [this] { return call_ == nullptr; };
  while (!done_.wait_until(lock, answered_ + kAnswerInterval, returned)) {
    lock.unlock();
    try {
      Answer();
    } catch (...) {
      // The call still holds what the caller passed: it must return before the caller learns
      // that the window failed.
      lock.lock();
      done_.wait(lock, returned);
      failure_ = nullptr;
      throw;
    }
    lock.lock();
  }
  const std::exception_ptr failure = std::exchange(failure_, nullptr);
  lock.unlock();
  if (std::chrono::steady_clock::now() - answered_ >= kAnswerInterval) {
    Answer();
  }
  if (failure) {
    std::rethrow_exception(failure);
  }
}

void AnsweredCalls::Answer() {
  upkeep_.AnswerPending(admit_);
  answered_ = std::chrono::steady_clock::now();
}

void AnsweredCalls::Work() {
  std::unique_lock lock(mutex_);
  for (;;) {
    given_.wait(lock, [this] { return call_ != nullptr || stopping_; });
    if (call_ == nullptr) {
      return;
    }
    const std::function<void()>& call = *call_;
    lock.unlock();
    std::exception_ptr failure;
    try {
      call();
    } catch (...) {
      failure = std::current_exception();
    }
    lock.lock();
    failure_ = std::move(failure);
    call_ = nullptr;
    done_.notify_one();
  }
}

}  // namespace salvatrix
