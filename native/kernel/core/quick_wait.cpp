#include "kernel/core/quick_wait.hpp"

#include <algorithm>
#include <thread>
#include <vector>

#ifdef __linux__
#include <sched.h>
#endif

namespace zm::kernel::core {

void AnswerClock::note(WaitClock::duration took) {
    const std::int64_t limit =
        std::chrono::duration_cast<std::chrono::nanoseconds>(4 * WATCH_LIMIT).count();
    const std::int64_t ns = std::min<std::int64_t>(
        std::chrono::duration_cast<std::chrono::nanoseconds>(took).count(), limit);
    const std::int64_t before = recent_ns_.load(std::memory_order_relaxed);
    // Races between noting threads lose an answer at worst: this is an estimate.
    recent_ns_.store(before == 0 ? ns : (3 * before + ns) / 4, std::memory_order_relaxed);
}

WaitClock::duration AnswerClock::window() const {
    const auto recent = std::chrono::nanoseconds(recent_ns_.load(std::memory_order_relaxed));
    if (recent > WATCH_LIMIT)
        return WaitClock::duration::zero();
    return std::min<WaitClock::duration>(2 * recent, WATCH_LIMIT);
}

bool several_cores() {
    static const bool several = [] {
#ifdef __linux__
        cpu_set_t allowed;
        if (sched_getaffinity(0, sizeof(allowed), &allowed) == 0)
            return CPU_COUNT(&allowed) > 1;
#endif
        return std::thread::hardware_concurrency() > 1;
    }();
    return several;
}

void yield_core() { std::this_thread::yield(); }

namespace {
thread_local bool holding = false;
thread_local std::vector<std::function<void()>> held;
} // namespace

void hold_until_release(bool hold) {
    holding = hold;
    if (!hold)
        run_released();
}

void after_release(std::function<void()> action) {
    if (holding)
        held.push_back(std::move(action));
    else
        action();
}

void run_released() {
    if (held.empty())
        return;
    std::vector<std::function<void()>> batch;
    batch.swap(held);
    for (auto &action : batch)
        action();
}

} // namespace zm::kernel::core
