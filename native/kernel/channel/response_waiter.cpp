#include "kernel/channel/response_waiter.hpp"

#include "kernel/core/quick_wait.hpp"

namespace zm::kernel::channel {

namespace {

constexpr double LONGEST_DEADLINE = 1e9;

using Clock = core::WaitClock;

/// Workers inside `wait_for` with a request of their own: only a lone one looks at its flag, so
/// several workers never take the cores the listener and the peer need.
std::atomic<int> waiting{0};
/// How long answers to synchronous requests take.
core::AnswerClock answers;

} // namespace

void ResponseWaiter::set() {
    {
        std::lock_guard<std::mutex> hold(mutex_);
        set_.store(true, std::memory_order_release);
    }
    changed_.notify_all();
}

void ResponseWaiter::clear() {
    std::lock_guard<std::mutex> hold(mutex_);
    set_.store(false, std::memory_order_release);
}

bool ResponseWaiter::is_set() const {
    std::lock_guard<std::mutex> hold(mutex_);
    return set_;
}

bool ResponseWaiter::sleep_for(double seconds) {
    std::unique_lock<std::mutex> hold(mutex_);
    if (!(seconds > 0.0))
        return set_;
    // Beyond three decades the deadline would overflow the clock: wait without one.
    if (seconds > LONGEST_DEADLINE) {
        changed_.wait(hold, [this] { return set_.load(); });
        return true;
    }
    const auto timeout =
        std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(seconds));
    return changed_.wait_until(hold, Clock::now() + timeout, [this] { return set_.load(); });
}

bool ResponseWaiter::wait_for(double seconds, bool may_look) {
    if (!may_look)
        return sleep_for(seconds);
    const auto start = Clock::now();
    const bool alone = waiting.fetch_add(1, std::memory_order_relaxed) == 0;
    bool signalled = false;
    if (alone && seconds > 0.0 && core::several_cores()) {
        const auto window = std::min<Clock::duration>(
            answers.window(),
            std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(seconds)));
        if (window > Clock::duration::zero())
            signalled = core::watch_until(
                start + window, [this] { return set_.load(std::memory_order_acquire); },
                // Another worker started waiting: leave the cores to the loop and the peer.
                [] { return waiting.load(std::memory_order_relaxed) > 1; });
    }
    if (!signalled) {
        const double spent = std::chrono::duration<double>(Clock::now() - start).count();
        signalled = sleep_for(seconds - spent);
    }
    waiting.fetch_sub(1, std::memory_order_relaxed);
    if (signalled)
        answers.note(Clock::now() - start);
    return signalled;
}

void set_soon(const std::shared_ptr<ResponseWaiter> &waiter) {
    core::after_release([waiter] { waiter->set(); });
}

} // namespace zm::kernel::channel
