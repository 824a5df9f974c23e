#pragma once
// State the two system files share: why the last call failed on this thread, and the counters
// of the fault seam. Internal to src/platform.

#include <string>

#include "platform/platform.h"

namespace kelvad::platform::detail {

// Records a failure for last_error(); `text` is the system's message, trimmed here of the line
// end and full stop that the systems append. Always false, so that a failing path can end
// with `return failed(...)`.
bool failed(int code, std::string text, bool name_taken, bool in_use);

// True when the fault seam chose this performance of the step to fail; counts it down.
bool fault_due(fault::step s);

}  // namespace kelvad::platform::detail
