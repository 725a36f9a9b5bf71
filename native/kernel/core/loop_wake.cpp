#include "kernel/core/loop_wake.hpp"

#include <algorithm>
#include <cerrno>
#include <thread>

#include <sys/epoll.h>
#include <sys/eventfd.h>
#include <unistd.h>

namespace zm::kernel::core {

LoopWake &LoopWake::instance() {
    // Leaked on purpose: workers may still queue their outcomes during interpreter exit.
    static LoopWake *wake = new LoopWake();
    return *wake;
}

LoopWake::LoopWake() : wake_fd_(eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC)) {}

void LoopWake::serve(const void *loop) {
    // Without its descriptor nothing could wake a sleeping loop: it then serves no loop, and
    // workers wake it as any other loop.
    if (wake_fd_ < 0)
        loop = nullptr;
    loop_.store(nullptr);
    loop_thread_.store(loop == nullptr ? std::thread::id() : std::this_thread::get_id());
    registered_epfd_ = -1; // a new loop polls a new epoll set
    queued_.store(0);
    back_.store(0);
    let_go_.store(false, std::memory_order_relaxed);
    out_.store(0);
    loop_.store(loop);
}

bool LoopWake::serves(const void *loop) const { return loop != nullptr && loop_.load() == loop; }

bool LoopWake::on_loop_thread() const { return loop_thread_.load() == std::this_thread::get_id(); }

void LoopWake::run_out() {
    last_out_ns_.store(steady_ns(), std::memory_order_relaxed);
    out_.fetch_add(1, std::memory_order_relaxed);
}

void LoopWake::queued() {
    queued_.fetch_add(1); // sequentially consistent, paired with `asleep_` in wait()
    wake_if_asleep();
}

void LoopWake::let_go() { let_go_.store(true, std::memory_order_release); }

void LoopWake::run_back(WaitClock::duration took) {
    clock_.note(took);
    out_.fetch_sub(1, std::memory_order_relaxed);
    back_.fetch_add(1); // sequentially consistent, paired with `asleep_` in wait()
    wake_if_asleep();
}

void LoopWake::wake_if_asleep() {
    if (!asleep_.load())
        return;
    const std::uint64_t one = 1;
    // A full counter (never, in practice) still leaves the descriptor readable.
    [[maybe_unused]] const ssize_t written = ::write(wake_fd_, &one, sizeof(one));
}

int LoopWake::drop_own_events(epoll_event *events, int count) {
    int kept = 0;
    for (int i = 0; i < count; ++i) {
        if (events[i].data.fd == wake_fd_) {
            std::uint64_t value = 0;
            [[maybe_unused]] const ssize_t got = ::read(wake_fd_, &value, sizeof(value));
            continue;
        }
        events[kept++] = events[i];
    }
    return kept;
}

int LoopWake::wait(int epfd, epoll_event *events, int maxevents, int ms) {
    if (registered_epfd_ != epfd) {
        epoll_event own{};
        own.events = EPOLLIN;
        own.data.fd = wake_fd_;
        if (epoll_ctl(epfd, EPOLL_CTL_ADD, wake_fd_, &own) == 0 || errno == EEXIST)
            registered_epfd_ = epfd;
    }
    int count = 0;
    bool seen = false;
    const auto window = clock_.window();
    const auto start = WaitClock::now();
    // Looking pays while the latest run is young: one that outlasts the window (a long
    // computation) is not looked for again at every turn of the loop.
    auto deadline = WaitClock::time_point(
                        std::chrono::nanoseconds(last_out_ns_.load(std::memory_order_relaxed))) +
                    window;
    if (ms > 0)
        deadline = std::min(deadline, start + std::chrono::milliseconds(ms));
    if (ms != 0 && back_.load() == 0 && out_.load(std::memory_order_relaxed) > 0 &&
        deadline > start && several_cores()) {
        seen = watch_until(
            deadline,
            [&] {
                if (back_.load(std::memory_order_acquire) > 0 ||
                    let_go_.load(std::memory_order_acquire))
                    return true;
                count = epoll_wait(epfd, events, maxevents, 0);
                return count != 0;
            },
            [] { return false; });
        if (!seen && ms > 0) {
            const auto spent =
                std::chrono::duration_cast<std::chrono::milliseconds>(WaitClock::now() - start);
            ms = std::max(0, ms - static_cast<int>(spent.count()));
        }
    }
    if (!seen) {
        asleep_.store(true); // sequentially consistent, paired with `queued_` and `back_`
        const bool waiting = queued_.load() > 0 || back_.load() > 0;
        count = epoll_wait(epfd, events, maxevents, waiting ? 0 : ms);
        const int error = errno;
        asleep_.store(false, std::memory_order_relaxed);
        errno = error;
    }
    // What was queued before this point is on the loop's list already: the turn that follows
    // runs it.
    queued_.store(0);
    back_.store(0);
    let_go_.store(false, std::memory_order_relaxed);
    return count <= 0 ? count : drop_own_events(events, count);
}

} // namespace zm::kernel::core
