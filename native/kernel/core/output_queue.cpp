#include "kernel/core/output_queue.hpp"

#include "common/text_format.hpp"
#include "kernel/core/constants.hpp"
#include "kernel/core/json_dumps.hpp"
#include "kernel/core/loop_handoff.hpp"
#include "kernel/core/loop_wake.hpp"
#include "kernel/core/runtime.hpp"
#include "kernel/core/send_path.hpp"
#include "kernel/texts.hpp"

#include <pythread.h>

#include <optional>
#include <string>

namespace zm::kernel::core {

namespace {

/// What a queued piece is counted as beyond its text: the str object and its slot.
constexpr std::size_t PIECE_ALLOWANCE = 64;

constexpr const char *QUEUE_CAPSULE = "zentrel_master.kernel.output_queue";

void log_streaming_error(py::handle stream_type, py::handle error) {
    const Logger &logger = log();
    if (logger.debug_enabled())
        logger.debug(zm::format(texts::STREAMING_ERROR, text_of(stream_type), text_of(error)));
}

/// Drops everything queued (the connection is gone or the loop refused the drain).
void drop_all(OutputQueue &queue) {
    for (;;) {
        std::deque<OutputQueue::Entry> batch = queue.take();
        if (batch.empty())
            return;
        for (const OutputQueue::Entry &entry : batch)
            queue.done(entry.bytes);
    }
}

/// The drain: sends what is queued, one batch per hold of the socket lock, yielding to the loop
/// between batches so that a flood never holds the listener, until the queue is found empty.
Coro drain_output(py::object kernel, std::shared_ptr<OutputQueue> queue) {
    const Runtime::Names &n = runtime().names;
    queue->set_loop_thread(PyThread_get_thread_ident());
    for (;;) {
        py::object websocket = get_attr(kernel, n.websocket);
        py::object lock = get_attr(kernel, n.socket_lock);
        if (!PyObject_IsTrue(websocket.ptr()) || lock.is_none()) {
            const bool connected = PyObject_IsTrue(websocket.ptr());
            std::deque<OutputQueue::Entry> batch = queue->take();
            if (batch.empty())
                break;
            for (const OutputQueue::Entry &entry : batch) {
                const std::string type = text_of(entry.head->type);
                log().warning(connected ? zm::format(texts::CANNOT_SEND_NO_LOCK, type)
                                        : zm::format(texts::CANNOT_SEND_NOT_CONNECTED, type));
                queue->done(entry.bytes);
            }
            continue;
        }
        bool more = false;
        std::optional<py::error_already_set> failed;
        co_await get_attr(lock, n.acquire)();
        {
            ScopeGuard release([lock]() { get_attr(lock, runtime().names.release)(); });
            try {
                more = (co_await send_queued_output(websocket, queue)).cast<bool>();
            } catch (py::error_already_set &e) {
                failed.emplace(std::move(e));
            }
        }
        if (failed) {
            // The connection failed under us: what is queued cannot be sent any more.
            log_streaming_error(py::str("output"), failed->value());
            drop_all(*queue);
            break;
        }
        // Nothing more came while this batch went out: done without another turn of the loop.
        if (!more || queue->finish_if_empty())
            break;
        co_await runtime().asyncio_sleep(0);
    }
    co_return py::none();
}

} // namespace

py::dict OutputQueue::Entry::message() const {
    if (whole)
        return py::reinterpret_borrow<py::dict>(whole);
    py::object content;
    if (pieces.size() == 1) {
        content = pieces.front();
    } else {
        py::list parts(pieces.size());
        for (std::size_t i = 0; i < pieces.size(); ++i)
            parts[i] = pieces[i];
        content = py::str("").attr("join")(parts);
    }
    py::dict message;
    message["type"] = head->type;
    message["content"] = content;
    if (head->request_id) {
        message["request_id"] = head->request_id;
        message["workbook_id"] = head->workbook_id;
        message["source"] = head->source;
    } else {
        message["workbook_id"] = head->workbook_id;
    }
    return message;
}

void OutputQueue::put(py::handle kernel, py::handle loop,
                      const std::shared_ptr<const OutputHead> &head, py::object piece) {
    const bool text = PyUnicode_CheckExact(piece.ptr());
    const std::size_t chars =
        text ? static_cast<std::size_t>(PyUnicode_GET_LENGTH(piece.ptr())) : 0;
    const std::size_t bytes =
        (text ? chars * static_cast<std::size_t>(PyUnicode_KIND(piece.ptr())) : 0) +
        PIECE_ALLOWANCE;
    bool schedule = false;
    bool wait = false;
    {
        std::lock_guard<std::mutex> hold(mutex_);
        Entry *last = entries_.empty() ? nullptr : &entries_.back();
        // A non-text piece (a write of something else) travels alone, as it was written.
        if (text && last != nullptr && last->head == head && last->chars != 0 &&
            last->chars + chars <= MERGE_LIMIT) {
            last->pieces.push_back(std::move(piece));
            last->chars += chars;
            last->bytes += bytes;
            pending_bytes_ += bytes;
            schedule = !drain_scheduled_;
            drain_scheduled_ = true;
            wait = pending_bytes_ > PENDING_LIMIT && !closed_ &&
                   PyThread_get_thread_ident() != loop_thread_.load();
        } else {
            Entry entry;
            entry.head = head;
            entry.pieces.push_back(std::move(piece));
            entry.chars = chars;
            entry.bytes = bytes;
            schedule = append(std::move(entry), wait);
        }
    }
    if (schedule)
        schedule_drain(kernel, loop);
    if (wait) {
        py::gil_scoped_release released;
        LoopWake::instance().let_go(); // the drain may go now, even in a look for a quick run
        std::unique_lock<std::mutex> hold(mutex_);
        room_.wait(hold, [this] { return pending_bytes_ <= RESUME_LEVEL || closed_; });
    }
}

void OutputQueue::put_message(py::handle kernel, py::handle loop, py::dict message) {
    auto head = std::make_shared<OutputHead>();
    head->type = dict_get(message, runtime().names.type, runtime().names.unknown);
    Entry entry;
    entry.head = std::move(head);
    entry.whole = std::move(message);
    entry.bytes = PIECE_ALLOWANCE;
    bool schedule = false;
    {
        bool wait = false;
        std::lock_guard<std::mutex> hold(mutex_);
        schedule = append(std::move(entry), wait);
    }
    if (schedule)
        schedule_drain(kernel, loop);
}

bool OutputQueue::append(Entry &&entry, bool &wait) {
    pending_bytes_ += entry.bytes;
    entries_.push_back(std::move(entry));
    count_.store(entries_.size(), std::memory_order_release);
    wait = pending_bytes_ > PENDING_LIMIT && !closed_ &&
           PyThread_get_thread_ident() != loop_thread_.load();
    const bool schedule = !drain_scheduled_;
    drain_scheduled_ = true;
    return schedule;
}

void OutputQueue::schedule_drain(py::handle kernel, py::handle loop) {
    py::object drain =
        drain_output(py::reinterpret_borrow<py::object>(kernel), output_queue_of(kernel)).object();
    try {
        start_on_loop(loop, drain);
    } catch (py::error_already_set &) {
        // No drain will come, so what is queued is lost (as any output written after the loop
        // ended).
        drop_all(*this);
        throw;
    }
}

std::deque<OutputQueue::Entry> OutputQueue::take() {
    std::deque<Entry> batch;
    std::lock_guard<std::mutex> hold(mutex_);
    batch.swap(entries_);
    count_.store(0, std::memory_order_release);
    if (batch.empty())
        drain_scheduled_ = false;
    return batch;
}

bool OutputQueue::finish_if_empty() {
    std::lock_guard<std::mutex> hold(mutex_);
    if (!entries_.empty())
        return false;
    drain_scheduled_ = false;
    return true;
}

void OutputQueue::done(std::size_t bytes) {
    bool wake = false;
    {
        std::lock_guard<std::mutex> hold(mutex_);
        const bool over = pending_bytes_ > RESUME_LEVEL;
        pending_bytes_ -= bytes < pending_bytes_ ? bytes : pending_bytes_;
        wake = over && pending_bytes_ <= RESUME_LEVEL;
    }
    if (wake)
        room_.notify_all();
}

void OutputQueue::close() {
    {
        std::lock_guard<std::mutex> hold(mutex_);
        closed_ = true;
    }
    room_.notify_all();
}

void init_output_queue(py::handle kernel) {
    auto *owner = new std::shared_ptr<OutputQueue>(std::make_shared<OutputQueue>());
    py::capsule capsule(owner, QUEUE_CAPSULE, [](PyObject *object) {
        delete static_cast<std::shared_ptr<OutputQueue> *>(
            PyCapsule_GetPointer(object, QUEUE_CAPSULE));
    });
    kernel.attr("_output_queue") = capsule;
}

std::shared_ptr<OutputQueue> output_queue_of(py::handle kernel) {
    PyObject *capsule = PyObject_GetAttrString(kernel.ptr(), "_output_queue");
    if (capsule == nullptr) {
        PyErr_Clear();
        return nullptr;
    }
    py::object owned = py::reinterpret_steal<py::object>(capsule);
    if (!PyCapsule_IsValid(capsule, QUEUE_CAPSULE))
        return nullptr;
    return *static_cast<std::shared_ptr<OutputQueue> *>(
        PyCapsule_GetPointer(capsule, QUEUE_CAPSULE));
}

Coro send_queued_output(py::object websocket, std::shared_ptr<OutputQueue> queue) {
    std::deque<OutputQueue::Entry> batch = queue->take();
    if (batch.empty())
        co_return false;
    // Whatever happens to the writes, the queue's allowance comes back, so writers never wait
    // for output that will not be sent.
    std::size_t owed = 0;
    for (const OutputQueue::Entry &entry : batch)
        owed += entry.bytes;
    OutputQueue *raw = queue.get();
    ScopeGuard give_back([raw, &owed]() { raw->done(owed); });
    const Runtime::Names &n = runtime().names;
    const bool debug = debug_on();
    for (OutputQueue::Entry &entry : batch) {
        py::object type = entry.head->type;
        py::object request_id = entry.head->request_id ? entry.head->request_id : n.na;
        if (entry.whole)
            request_id = dict_get(entry.whole, n.request_id, n.na);
        py::object raw_json;
        try {
            raw_json = json_dumps(entry.message());
        } catch (py::error_already_set &e) {
            if (!e.matches(PyExc_Exception))
                throw;
            log_streaming_error(type, e.value());
        }
        std::vector<py::object>().swap(entry.pieces);
        entry.whole = py::object();
        if (raw_json) {
            if (static_cast<std::size_t>(PyUnicode_GET_LENGTH(raw_json.ptr())) > CHUNK_SIZE)
                co_await send_chunks(websocket, raw_json, type, request_id);
            else
                co_await socket_send(websocket, raw_json);
            if (debug)
                log().debug(zm::format(texts::MESSAGE_SENT, text_of(type), text_of(request_id)));
        }
        raw->done(entry.bytes);
        owed -= entry.bytes;
    }
    co_return true;
}

} // namespace zm::kernel::core
