#pragma once
#include <stdexcept>
#include <string>

namespace kelvad {

// The one exception type of the program: an error that ends a handler and reaches the window's
// general error display. Its text is what the operator reads.
class kelvad_error : public std::runtime_error {
  public:
    explicit kelvad_error(const std::string& text) : std::runtime_error(text) {}
};

}  // namespace kelvad
