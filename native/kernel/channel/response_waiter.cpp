#include "kernel/channel/response_waiter.hpp"

#include <chrono>

namespace zm::kernel::channel {

namespace {
constexpr double LONGEST_DEADLINE = 1e9;
}

void ResponseWaiter::set() {
    {
        std::lock_guard<std::mutex> hold(mutex_);
        set_ = true;
    }
    changed_.notify_all();
}

void ResponseWaiter::clear() {
    std::lock_guard<std::mutex> hold(mutex_);
    set_ = false;
}

bool ResponseWaiter::is_set() const {
    std::lock_guard<std::mutex> hold(mutex_);
    return set_;
}

bool ResponseWaiter::wait_for(double seconds) {
    std::unique_lock<std::mutex> hold(mutex_);
    if (!(seconds > 0.0))
        return set_;
    // Beyond three decades the deadline would overflow the clock: wait without one.
    if (seconds > LONGEST_DEADLINE) {
        changed_.wait(hold, [this] { return set_; });
        return true;
    }
    const auto timeout = std::chrono::duration_cast<std::chrono::steady_clock::duration>(
        std::chrono::duration<double>(seconds));
    return changed_.wait_until(hold, std::chrono::steady_clock::now() + timeout,
                               [this] { return set_; });
}

} // namespace zm::kernel::channel
