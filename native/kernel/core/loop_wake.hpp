#pragma once
/// Waking the kernel's event loop for what workers queue on it, without waking it twice.
///
/// A worker that schedules a callback with `call_soon_threadsafe` wakes the loop while it still
/// holds the interpreter lock: the loop wakes, finds the lock taken and sleeps again until the
/// worker lets go of it, a second wake-up. The loop that polls through the kernel
/// (`core/loop_poll`) is woken through a `LoopWake` instead: a worker queues its callback on
/// the loop as usual (under the lock, so everything a thread queues keeps its order) and then
/// says so here. A run's outcome is announced once its worker has let go of the lock, so the
/// loop wakes to a free lock. While runs are out that recently came back quickly, the poll looks
/// for them (and for its sockets) before it sleeps, as a lone synchronous request looks for its
/// answer (`core/quick_wait`): a quick run then costs the loop no wake-up at all, and output the
/// run queued on the way (which the loop could not send before the run lets go of the lock)
/// leaves with its outcome, or when the look ends.

#include "kernel/core/quick_wait.hpp"

#include <atomic>
#include <cstdint>
#include <thread>

struct epoll_event;

namespace zm::kernel::core {

class LoopWake {
public:
    /// The process's one (one loop polls through the kernel at a time).
    static LoopWake &instance();

    /// Starts serving `loop` (an opaque identity), or stops with nullptr; called on the loop's
    /// thread, which then polls through `wait` until it stops.
    void serve(const void *loop);
    /// Whether `loop` is the loop served.
    bool serves(const void *loop) const;
    /// Whether the calling thread is the served loop's own thread.
    bool on_loop_thread() const;

    /// A run was submitted to a worker (the loop's thread).
    void run_out();
    /// A callback was queued on the loop by a thread that holds the interpreter lock; from any
    /// thread.
    void queued();
    /// The thread that queued callbacks now waits without the interpreter lock (a synchronous
    /// request): a loop looking for a run's outcome takes them at once instead of when its look
    /// ends. A sleeping loop was woken when they were queued.
    void let_go();
    /// A run's outcome was queued on the loop and its worker let go of the lock; `took` is the
    /// time since the run was submitted. From the worker, without the interpreter lock.
    void run_back(WaitClock::duration took);

    /// As epoll_wait(epfd, events, maxevents, ms), with the wake-up descriptor added to the set
    /// (its events are consumed, never returned). Returns at once when something was queued
    /// since the last wait, unless it looks: while a run submitted within the recent window is
    /// out, it looks for socket events, an outcome or a thread that let go of the lock before
    /// it sleeps, and returns with whatever was queued meanwhile when the look ends. Sets errno
    /// as epoll_wait does.
    int wait(int epfd, epoll_event *events, int maxevents, int ms);

private:
    LoopWake();
    void wake_if_asleep();
    int drop_own_events(epoll_event *events, int count);

    std::atomic<const void *> loop_{nullptr};
    std::atomic<std::thread::id> loop_thread_{}; ///< no thread while no loop is served
    std::atomic<int> queued_{0};                 ///< callbacks queued since the last wait
    std::atomic<int> back_{0};        ///< outcomes queued with the lock let go, since the last wait
    std::atomic<bool> let_go_{false}; ///< a thread let go of the lock, since the last wait
    std::atomic<int> out_{0};         ///< runs submitted and not back
    std::atomic<std::int64_t> last_out_ns_{0}; ///< when the latest run was submitted
    std::atomic<bool> asleep_{false};
    AnswerClock clock_;
    int wake_fd_ = -1;
    int registered_epfd_ = -1; ///< the loop's thread only
};

} // namespace zm::kernel::core
