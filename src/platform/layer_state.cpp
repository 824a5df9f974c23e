// The error record and the fault seam, the same on every system.

#include "platform/layer_state.h"

#include <atomic>
#include <utility>

namespace kelvad::platform {

namespace {

thread_local os_error current_error;

// Calls of each step still to pass before the chosen one fails; 0 = no fault pending. Shared
// by all threads, so that a test can arm a fault for work that a worker thread does.
std::atomic<int> fault_countdown[3];

std::atomic<int>& countdown_of(fault::step s) {
    return fault_countdown[static_cast<int>(s)];
}

}  // namespace

namespace detail {

bool failed(int code, std::string text, bool name_taken, bool in_use) {
    while (!text.empty() && (text.back() == '\r' || text.back() == '\n' || text.back() == '.' ||
                             text.back() == ' ')) {
        text.pop_back();
    }
    current_error = os_error{code, std::move(text), name_taken, in_use};
    return false;
}

bool fault_due(fault::step s) {
    std::atomic<int>& countdown = countdown_of(s);
    int left = countdown.load();
    while (left > 0 && !countdown.compare_exchange_weak(left, left - 1)) {
    }
    return left == 1;
}

}  // namespace detail

os_error last_error() {
    return current_error;
}

namespace fault {

void inject(step s, int nth) {
    countdown_of(s).store(nth > 0 ? nth : 0);
}

void clear() {
    for (std::atomic<int>& countdown : fault_countdown) countdown.store(0);
}

}  // namespace fault

}  // namespace kelvad::platform
