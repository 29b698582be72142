#pragma once

#include <stdexcept>

namespace salvatrix {

/// Every failure the program raises on purpose derives from this type. The OS layers turn their
/// error codes into one at the interface; the procedures that catch everything catch it.
class Failure : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

}  // namespace salvatrix
