#pragma once
/// The flag a worker blocks on while its synchronous request is out: set once by the listener
/// (or by a decode failure), waited on with the interpreter lock released. Plain C++: the
/// worker sleeps on a condition variable, and setting it costs the listener one notify instead
/// of a Python-level Condition round. From Python it answers as a `threading.Event` does
/// (`set`, `is_set`, `clear`, `wait`), so code that handles the registered waiters keeps working.

#include <condition_variable>
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
    /// true when set. The caller has released the interpreter lock.
    bool wait_for(double seconds);

private:
    mutable std::mutex mutex_;
    std::condition_variable changed_;
    bool set_ = false;
};

} // namespace zm::kernel::channel
