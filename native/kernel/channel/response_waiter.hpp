#pragma once
/// The flag a worker blocks on while its synchronous request is out: set once by the listener
/// (or by a decode failure), waited on with the interpreter lock released. Plain C++: the
/// worker sleeps on a condition variable, and setting it costs the listener one notify instead
/// of a Python-level Condition round. From Python it answers as a `threading.Event` does
/// (`set`, `is_set`, `clear`, `wait`), so code that handles the registered waiters keeps working.
///
/// Two things keep a fast answer from costing two thread wake-ups:
/// - A worker that is the only one waiting looks at its flag before it sleeps, while answers
///   come quickly (`core/quick_wait`). Answers slower than that (an add-in across a network)
///   are slept for at once.
/// - The listener's set is held until its loop has let go of the interpreter lock, so the
///   worker that wakes finds the lock free instead of sleeping again on it.

#include <atomic>
#include <condition_variable>
#include <memory>
#include <mutex>

namespace zm::kernel::channel {

class ResponseWaiter {
public:
    /// Sets the flag and wakes the waiter.
    void set();
    /// True once set.
    bool is_set() const;
    /// Unsets the flag (as `threading.Event.clear`).
    void clear();
    /// Waits until set or `seconds` have passed (a value that is not above zero only looks);
    /// true when set. The caller has released the interpreter lock. `may_look`: a worker's
    /// request, whose answer time feeds the estimate that decides whether watching pays.
    bool wait_for(double seconds, bool may_look = false);

private:
    bool sleep_for(double seconds);

    mutable std::mutex mutex_;
    std::condition_variable changed_;
    /// Written under `mutex_` (so a sleeper never misses it), read without it while looking.
    std::atomic<bool> set_{false};
};

/// Sets `waiter` now, or, on the thread whose event loop polls through the kernel, once that
/// loop has released the interpreter lock (`core::after_release`).
void set_soon(const std::shared_ptr<ResponseWaiter> &waiter);

} // namespace zm::kernel::channel
