#pragma once
/// The output queue: run output and process-wide stream text on their way to the socket.
///
/// Writers (any thread) append pieces; one drain at a time on the event loop sends them. While
/// earlier output is still waiting, a piece that continues the queue's last message (the same
/// stream of the same run) is merged into it, so a print loop costs one message per drain
/// instead of two per line, and a lone print still leaves at once. What is queued but not yet
/// written is bounded: a writer other than the event loop waits while the queue holds more than
/// PENDING_LIMIT, so a run that prints faster than the socket drains is slowed instead of filling
/// memory. Every message of the kernel takes what is queued ahead of it first (under the socket
/// lock), so output never falls behind the result of its own run.

#include "common/coroutine.hpp"

#include <atomic>
#include <condition_variable>
#include <cstddef>
#include <deque>
#include <memory>
#include <mutex>
#include <vector>

namespace zm::kernel::core {

/// The fields of a stream message besides its content, shared by every piece of one stream of
/// one run (or of the process-wide hook). Field order of the message: type, content,
/// request_id, workbook_id, source; a process-wide one has only type, content, workbook_id.
struct OutputHead {
    py::object type;
    py::object request_id; ///< unset for process-wide output
    py::object workbook_id;
    py::object source; ///< unset for process-wide output
};

class OutputQueue {
public:
    /// Characters of content merged into one message at most (stays below one chunk).
    static constexpr std::size_t MERGE_LIMIT = 16384;
    /// Bytes queued (content plus a per-piece allowance) above which writers wait.
    static constexpr std::size_t PENDING_LIMIT = 256 * 1024;
    /// Writers that waited go on once the queue is down to this.
    static constexpr std::size_t RESUME_LEVEL = PENDING_LIMIT / 2;

    struct Entry {
        std::shared_ptr<const OutputHead> head;
        std::vector<py::object> pieces;
        py::object whole; ///< a finished message queued by `put_message` (never merged)
        std::size_t chars = 0;
        std::size_t bytes = 0;

        /// The message of this entry (the pieces joined in order).
        py::dict message() const;
    };

    /// Appends `piece` (called with the GIL held, from any thread) and schedules a drain on
    /// `loop` when none is pending. Then, off the loop thread, waits with the GIL released while
    /// the queue is over its limit. Raises when the drain cannot be scheduled.
    void put(py::handle kernel, py::handle loop, const std::shared_ptr<const OutputHead> &head,
             py::object piece);

    /// Queues a finished message of a worker (a "sys_request") behind the output written
    /// before it: one hand-off to the loop, and no task of its own when a drain is on its way.
    /// Never waits for room (its writer is about to wait for the answer anyway).
    void put_message(py::handle kernel, py::handle loop, py::dict message);

    /// True when something waits to be sent (cheap; the send path checks it on every message).
    bool has_pending() const noexcept { return count_.load(std::memory_order_acquire) != 0; }

    /// Everything queued now, oldest first; an empty result also ends the pending drain.
    std::deque<Entry> take();

    /// Ends the pending drain when nothing is queued (true); false when more has come.
    bool finish_if_empty();

    /// Gives back the allowance of an entry that was written or dropped; wakes waiting writers.
    void done(std::size_t bytes);

    /// The thread of the kernel's event loop (never waits for room).
    void set_loop_thread(unsigned long ident) noexcept { loop_thread_.store(ident); }

    /// The connection is over: writers no longer wait.
    void close();

private:
    /// Appends under the lock; true when the caller must schedule the drain.
    bool append(Entry &&entry, bool &wait);
    void schedule_drain(py::handle kernel, py::handle loop);

    mutable std::mutex mutex_;
    std::condition_variable room_;
    std::deque<Entry> entries_;
    std::atomic<std::size_t> count_{0};
    std::size_t pending_bytes_ = 0;
    bool drain_scheduled_ = false;
    bool closed_ = false;
    std::atomic<unsigned long> loop_thread_{0};
};

/// Creates the kernel's queue (stored on the kernel as `_output_queue`).
void init_output_queue(py::handle kernel);

/// The kernel's queue, or null for an object that has none.
std::shared_ptr<OutputQueue> output_queue_of(py::handle kernel);

/// Sends what is queued now; the caller holds the socket lock. Used by the drain and by every
/// message of the send path before its own write.
Coro send_queued_output(py::object websocket, std::shared_ptr<OutputQueue> queue);

} // namespace zm::kernel::core
