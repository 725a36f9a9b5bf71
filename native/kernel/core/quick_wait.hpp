#pragma once
/// Waiting for an answer that usually comes within a fraction of a millisecond (a "sys_response"
/// from a Business Layer beside the kernel) without paying a thread wake-up for it. Waking a
/// sleeping thread costs tens of microseconds, far more on a virtual machine, where it can be most
/// of such a round trip; a thread that keeps looking, and yields its core at every look to any
/// thread ready to run there, sees the answer at once. Looking is worth it only while answers do
/// come quickly: each kind of answer keeps an `AnswerClock`, and nobody looks longer than twice its
/// recent answer time, nor past `WATCH_LIMIT`, nor at all when answers are slower than that.

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>

namespace zm::kernel::core {

using WaitClock = std::chrono::steady_clock;

/// Now on `WaitClock`, in nanoseconds: a time point that fits an atomic or a Python int.
inline std::int64_t steady_ns() {
    return std::chrono::duration_cast<std::chrono::nanoseconds>(WaitClock::now().time_since_epoch())
        .count();
}

/// Longest anyone looks before sleeping.
inline constexpr std::chrono::microseconds WATCH_LIMIT{1000};

/// A running estimate of how long one kind of answer takes.
class AnswerClock {
public:
    /// Counts one answer that took `took`. A long wait counts as a few limits only, so one slow
    /// answer among quick ones stops the looking for a few answers, not for dozens.
    void note(WaitClock::duration took);
    /// How long looking pays now: twice the recent answer time, zero above `WATCH_LIMIT`.
    WaitClock::duration window() const;

private:
    std::atomic<std::int64_t> recent_ns_{0};
};

/// Whether the process may run on more than one core: looking on the only one would keep the
/// answering thread from running.
bool several_cores();

/// What a thread hands to another one it wakes (a response to a waiting worker) is better handed
/// over once the handing thread no longer holds the interpreter lock: woken earlier, the other
/// thread would only sleep again on that lock. The kernel's event loop polls through
/// `core/loop_poll`, which releases the lock and then runs what its thread held.
/// Turns holding on (or, with false, off, running what was held) for the calling thread.
void hold_until_release(bool hold);
/// Runs `action` now, or when the calling thread's loop next releases the lock if it holds.
/// Actions must not touch Python: they run without the lock.
void after_release(std::function<void()> action);
/// Runs the actions held on the calling thread, in the order they came.
void run_released();

/// Gives the core to any thread ready to run on it; a system call when none is.
void yield_core();

/// Looks at `ready()` until it is true (returns true) or `deadline` passes (false), yielding the
/// core between looks. `give_up()`, checked now and then, ends the looking early.
template <class Ready, class GiveUp>
bool watch_until(WaitClock::time_point deadline, Ready ready, GiveUp give_up) {
    for (unsigned round = 0;; ++round) {
        if (ready())
            return true;
        if ((round & 7) == 0 && (give_up() || WaitClock::now() >= deadline))
            return false;
        yield_core();
    }
}

} // namespace zm::kernel::core
