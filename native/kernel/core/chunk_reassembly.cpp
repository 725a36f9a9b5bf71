#include "kernel/core/chunk_reassembly.hpp"

#include "common/text_format.hpp"
#include "kernel/core/chunk_plan.hpp"
#include "kernel/core/constants.hpp"
#include "kernel/core/kernel_hooks.hpp"
#include "kernel/core/runtime.hpp"
#include "kernel/core/send_path.hpp"
#include "kernel/texts.hpp"

#include <chrono>
#include <cstdint>
#include <limits>
#include <string>
#include <utility>
#include <vector>

namespace zm::kernel::core {

namespace {

/// The value of a Python int clamped to the int64 range.
std::int64_t clamped(py::handle number) {
    int overflow = 0;
    const long long value = PyLong_AsLongLongAndOverflow(number.ptr(), &overflow);
    if (overflow > 0)
        return std::numeric_limits<std::int64_t>::max();
    if (overflow < 0)
        return std::numeric_limits<std::int64_t>::min();
    if (value == -1 && PyErr_Occurred())
        throw py::error_already_set();
    return value;
}

double monotonic_seconds() {
    using namespace std::chrono;
    return duration<double>(steady_clock::now().time_since_epoch()).count();
}

/// A series that was dropped, for the reply that tells the peer.
struct DroppedSeries {
    py::object original_type;
    py::object request_id;
    std::string reason;
};

/// The reassembly of one chunk: its whole message once complete, and the series it dropped.
struct Outcome {
    py::object message = py::none();
    std::vector<DroppedSeries> dropped;
};

/// Reassembly state of one kernel: its open series and the ids of series it dropped.
class Reassembly {
public:
    explicit Reassembly(py::handle kernel)
        : buffers_(kernel.attr("_chunk_buffers")), dropped_(kernel.attr("_dropped_chunk_series")) {}

    py::object find(py::handle chunk_id) const {
        PyObject *found = PyDict_GetItemWithError(buffers_.ptr(), chunk_id.ptr());
        if (found == nullptr && PyErr_Occurred())
            throw py::error_already_set();
        return py::reinterpret_borrow<py::object>(found);
    }

    bool was_dropped(py::handle chunk_id) const {
        const int found = PyDict_Contains(dropped_.ptr(), chunk_id.ptr());
        if (found < 0)
            throw py::error_already_set();
        return found == 1;
    }

    /// Removes a finished series (complete or rejected after completion).
    void forget(py::handle chunk_id) {
        if (PyDict_DelItem(buffers_.ptr(), chunk_id.ptr()) < 0)
            PyErr_Clear();
    }

    /// Drops the series `chunk_id` (open or not yet opened): logs `log_line`, remembers the id
    /// so that its later chunks are ignored, and describes it for the reply. `chunk` supplies
    /// the type and request id when the series holds none.
    DroppedSeries drop(py::handle chunk_id, py::handle chunk, const std::string &log_line) {
        log().error(log_line);
        py::object series = find(chunk_id);
        py::handle source = series ? py::handle(series) : chunk;
        const Runtime::Names &n = runtime().names;
        DroppedSeries out{dict_get(source, "original_type", n.unknown),
                          dict_get(source, "request_id", n.na), without_prefix(log_line)};
        forget(chunk_id);
        if (static_cast<std::size_t>(PyDict_GET_SIZE(dropped_.ptr())) >= REMEMBERED_DROPPED_SERIES)
            forget_oldest(dropped_);
        dropped_[chunk_id] = py::none();
        return out;
    }

    /// The characters all open series hold.
    std::size_t held_chars() const {
        std::size_t held = 0;
        PyObject *key = nullptr;
        PyObject *value = nullptr;
        Py_ssize_t pos = 0;
        while (PyDict_Next(buffers_.ptr(), &pos, &key, &value))
            held += py::reinterpret_borrow<py::object>(value)["size"].cast<std::size_t>();
        return held;
    }

    /// The open series fed least recently, with how long it has been idle.
    std::pair<py::object, double> stalest(double now) const {
        py::object stalest_id;
        double idle = -1.0;
        PyObject *key = nullptr;
        PyObject *value = nullptr;
        Py_ssize_t pos = 0;
        while (PyDict_Next(buffers_.ptr(), &pos, &key, &value)) {
            const double since =
                now - py::reinterpret_borrow<py::object>(value)["last"].cast<double>();
            if (since > idle) {
                idle = since;
                stalest_id = py::reinterpret_borrow<py::object>(key);
            }
        }
        return {stalest_id, idle};
    }

    std::size_t open_series() const {
        return static_cast<std::size_t>(PyDict_GET_SIZE(buffers_.ptr()));
    }

    py::dict &buffers() { return buffers_; }

private:
    static std::string without_prefix(const std::string &line) {
        const std::string prefix = "[Kernel] ";
        return line.compare(0, prefix.size(), prefix) == 0 ? line.substr(prefix.size()) : line;
    }

    static void forget_oldest(py::dict &map) {
        // Dicts keep insertion order: the first key is the oldest entry.
        Py_ssize_t pos = 0;
        PyObject *key = nullptr;
        PyObject *value = nullptr;
        if (PyDict_Next(map.ptr(), &pos, &key, &value)) {
            py::object oldest = py::reinterpret_borrow<py::object>(key);
            if (PyDict_DelItem(map.ptr(), oldest.ptr()) < 0)
                PyErr_Clear();
        }
    }

    py::dict buffers_;
    py::dict dropped_;
};

/// Parses a completed series; None with the reason when it is not a message.
py::object parse_series(py::handle self, py::handle joined, py::handle chunk_id,
                        std::string &problem) {
    py::object parsed;
    std::string failure;
    bool failed = false;
    try {
        parsed = runtime().json_loads(joined);
    } catch (py::error_already_set &e) {
        // Deep nesting raises RecursionError rather than a decode error; both are bad input.
        if (!e.matches(PyExc_ValueError) && !e.matches(PyExc_RecursionError))
            throw;
        failure = text_of(e.value());
        failed = true;
    }
    if (failed || !parsed) {
        hooks().undecodable(py::reinterpret_borrow<py::object>(self),
                            py::reinterpret_borrow<py::object>(joined), failure);
        problem = zm::format(texts::REASSEMBLY_PARSE_FAILED, failure);
        return py::none();
    }
    if (!PyDict_Check(parsed.ptr())) {
        problem = zm::format(texts::REASSEMBLED_NOT_OBJECT, text_of(chunk_id));
        return py::none();
    }
    if (is_text(dict_get(parsed, "type", py::none()), CHUNK_HEADER_TYPE)) {
        problem = zm::format(texts::NESTED_CHUNK, text_of(chunk_id));
        return py::none();
    }
    return parsed;
}

/// Opens a record for a new series when there is room; else the series is refused (a null
/// object, the reason in `problem`). When every slot is taken, the series idle longest is dropped
/// if it has been idle for CHUNK_SERIES_IDLE_SECONDS; otherwise the newcomer waits its turn, so
/// that a peer interleaving more series than the limit still gets the open ones answered.
py::object open_series(Reassembly &state, py::handle chunk_id, py::handle message,
                       py::handle total_obj, std::int64_t total, double now,
                       std::vector<DroppedSeries> &dropped, std::string &problem) {
    if (state.open_series() >= MAX_OPEN_CHUNK_SERIES) {
        auto [stalest, idle] = state.stalest(now);
        if (idle < CHUNK_SERIES_IDLE_SECONDS) {
            problem = zm::format(texts::TOO_MANY_SERIES_REFUSED, MAX_OPEN_CHUNK_SERIES,
                                 text_of(chunk_id));
            return py::object();
        }
        dropped.push_back(state.drop(stalest, py::none(),
                                     zm::format(texts::TOO_MANY_SERIES_DROPPED_IDLE,
                                                MAX_OPEN_CHUNK_SERIES, text_of(stalest))));
    }
    const Runtime::Names &n = runtime().names;
    py::list slots(total);
    for (std::int64_t i = 0; i < total; ++i)
        PyList_SET_ITEM(slots.ptr(), i, Py_NewRef(Py_None));
    py::dict record;
    record["chunks"] = slots;
    record["received"] = py::int_(0);
    record["total"] = total_obj;
    record["size"] = py::int_(0);
    record["last"] = py::float_(now);
    record["original_type"] = dict_get(message, "original_type", n.unknown);
    record["request_id"] = dict_get(message, "request_id", n.na);
    state.buffers()[chunk_id] = record;
    return record;
}

Outcome reassemble(py::object self, py::object message) {
    const Logger &logger = log();
    py::object none = py::none();
    py::object chunk_id = dict_get(message, "chunk_id", none);
    py::object index_obj = dict_get(message, "chunk_index", none);
    py::object total_obj = dict_get(message, "total_chunks", none);
    py::object data = dict_get(message, "data", py::str(""));
    Outcome outcome;
    if (chunk_id.is_none() || index_obj.is_none() || total_obj.is_none()) {
        logger.error(texts::CHUNK_MISSING_FIELDS);
        return outcome;
    }
    if (!PyLong_Check(index_obj.ptr()) || !PyLong_Check(total_obj.ptr())) {
        logger.error(texts::CHUNK_NOT_INTEGERS);
        return outcome;
    }
    if (!PyUnicode_Check(chunk_id.ptr())) {
        logger.error(texts::CHUNK_ID_NOT_TEXT);
        return outcome;
    }
    Reassembly state(self);
    py::object series = state.find(chunk_id);
    if (!series && state.was_dropped(chunk_id)) {
        // The rest of a series already dropped and answered.
        if (logger.debug_enabled())
            logger.debug(zm::format(texts::CHUNK_OF_DROPPED_SERIES, text_of(chunk_id)));
        return outcome;
    }
    const std::int64_t index = clamped(index_obj);
    const std::int64_t total = clamped(total_obj);
    const std::int64_t series_total = series ? clamped(series["total"]) : -1;
    switch (check_chunk(index, total, series_total, MAX_CHUNK_SERIES_CHUNKS)) {
    case ChunkVerdict::IndexOutOfRange:
        logger.error(
            zm::format(texts::INVALID_CHUNK_INDEX, text_of(index_obj), text_of(total_obj)));
        return outcome;
    case ChunkVerdict::TooManyChunks:
        outcome.dropped.push_back(state.drop(
            chunk_id, message,
            zm::format(texts::CHUNK_SERIES_TOO_LONG, text_of(total_obj), MAX_CHUNK_SERIES_CHUNKS)));
        return outcome;
    case ChunkVerdict::TotalMismatch:
        outcome.dropped.push_back(
            state.drop(chunk_id, message,
                       zm::format(texts::CHUNK_TOTAL_MISMATCH, text_of(total_obj), series_total,
                                  text_of(chunk_id))));
        return outcome;
    case ChunkVerdict::Accept:
        break;
    }
    if (!data.is_none() && !PyUnicode_Check(data.ptr())) {
        outcome.dropped.push_back(
            state.drop(chunk_id, message,
                       zm::format(texts::CHUNK_DATA_NOT_TEXT, text_of(chunk_id),
                                  Py_TYPE(data.ptr())->tp_name)));
        return outcome;
    }
    const double now = monotonic_seconds();
    if (!series) {
        std::string problem;
        series =
            open_series(state, chunk_id, message, total_obj, total, now, outcome.dropped, problem);
        if (!series) {
            outcome.dropped.push_back(state.drop(chunk_id, message, problem));
            return outcome;
        }
    }
    series["last"] = py::float_(now);
    py::list slots = series["chunks"];
    if (PyList_GET_ITEM(slots.ptr(), index) == Py_None) {
        if (!data.is_none()) {
            const auto held = series["size"].cast<std::size_t>();
            const auto incoming = static_cast<std::size_t>(PyUnicode_GET_LENGTH(data.ptr()));
            if (!fits_series(held, incoming, MAX_CHUNK_SERIES_CHARS)) {
                outcome.dropped.push_back(
                    state.drop(chunk_id, message,
                               zm::format(texts::CHUNK_SERIES_TOO_LARGE, text_of(chunk_id),
                                          MAX_CHUNK_SERIES_CHARS)));
                return outcome;
            }
            if (!fits_series(state.held_chars(), incoming, MAX_BUFFERED_CHUNK_CHARS)) {
                outcome.dropped.push_back(
                    state.drop(chunk_id, message,
                               zm::format(texts::CHUNK_BUFFERS_FULL, MAX_BUFFERED_CHUNK_CHARS,
                                          text_of(chunk_id))));
                return outcome;
            }
            series["size"] = py::int_(held + incoming);
            slots[static_cast<std::size_t>(index)] = data;
        }
        series["received"] = py::int_(series["received"].cast<std::int64_t>() + 1);
    }
    if (series["received"].cast<std::int64_t>() < total)
        return outcome;
    for (py::handle slot : slots) {
        if (slot.is_none()) {
            outcome.dropped.push_back(state.drop(
                chunk_id, message, zm::format(texts::INCOMPLETE_BUFFER, text_of(chunk_id))));
            return outcome;
        }
    }
    std::string problem;
    outcome.message = parse_series(self, py::str("").attr("join")(slots), chunk_id, problem);
    if (!problem.empty())
        outcome.dropped.push_back(state.drop(chunk_id, message, problem));
    else
        state.forget(chunk_id);
    return outcome;
}

/// {"type": "error", "message": ..., "original_type", "request_id"} for a dropped series.
py::dict dropped_reply(const DroppedSeries &dropped) {
    return py::dict(py::arg("type") = "error",
                    py::arg("message") =
                        zm::format(texts::SERIES_DROPPED, text_of(dropped.original_type),
                                   text_of(dropped.request_id), dropped.reason),
                    py::arg("original_type") = dropped.original_type,
                    py::arg("request_id") = dropped.request_id);
}

} // namespace

Coro handle_chunk_message(py::object self, py::object message) {
    Outcome outcome = reassemble(self, message);
    for (const DroppedSeries &dropped : outcome.dropped)
        co_await send_message(self, dropped_reply(dropped));
    co_return outcome.message;
}

} // namespace zm::kernel::core
