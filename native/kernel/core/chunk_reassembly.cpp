#include "kernel/core/chunk_reassembly.hpp"

#include "kernel/core/chunk_plan.hpp"
#include "kernel/core/kernel_hooks.hpp"
#include "kernel/core/runtime.hpp"
#include "kernel/core/send_path.hpp"
#include "kernel/core/texts.hpp"

#include <cstdint>
#include <limits>

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

void drop(py::dict &buffers, py::handle chunk_id) {
    if (PyDict_DelItem(buffers.ptr(), chunk_id.ptr()) < 0)
        PyErr_Clear();
}

/// Parses a completed series; None (with an error log) when it is not a message.
py::object parse_series(py::handle joined, py::handle chunk_id) {
    const Logger &logger = log();
    py::object parsed;
    std::string failure;
    try {
        parsed = runtime().json_loads(joined);
    } catch (py::error_already_set &e) {
        // Deep nesting raises RecursionError rather than a decode error; both are bad input.
        if (!e.matches(PyExc_ValueError) && !e.matches(PyExc_RecursionError))
            throw;
        failure = text_of(e.value());
    }
    if (!failure.empty() || !parsed) {
        logger.error(std::string(text::REASSEMBLY_PARSE_FAILED) + failure);
        return py::none();
    }
    if (!PyDict_Check(parsed.ptr())) {
        logger.error(std::string(text::REASSEMBLED_NOT_OBJECT) + text_of(chunk_id) +
                     text::DROPPING_IT);
        return py::none();
    }
    if (is_text(dict_get(parsed, "type", py::none()), CHUNK_HEADER_TYPE)) {
        logger.error(std::string(text::NESTED_CHUNK) + text_of(chunk_id) + text::REJECTING);
        return py::none();
    }
    return parsed;
}

} // namespace

py::object reassemble_chunk(py::object self, py::object message) {
    const Logger &logger = log();
    py::object none = py::none();
    py::object chunk_id = dict_get(message, "chunk_id", none);
    py::object index_obj = dict_get(message, "chunk_index", none);
    py::object total_obj = dict_get(message, "total_chunks", none);
    py::object data = dict_get(message, "data", py::str(""));
    if (chunk_id.is_none() || index_obj.is_none() || total_obj.is_none()) {
        logger.error(text::CHUNK_MISSING_FIELDS);
        return none;
    }
    if (!PyLong_Check(index_obj.ptr()) || !PyLong_Check(total_obj.ptr())) {
        logger.error(text::CHUNK_NOT_INTEGERS);
        return none;
    }
    if (!PyUnicode_Check(chunk_id.ptr())) {
        logger.error(text::CHUNK_ID_NOT_TEXT);
        return none;
    }
    py::dict buffers = self.attr("_chunk_buffers");
    PyObject *found = PyDict_GetItemWithError(buffers.ptr(), chunk_id.ptr());
    if (found == nullptr && PyErr_Occurred())
        throw py::error_already_set();
    py::object series = py::reinterpret_borrow<py::object>(found);
    const std::int64_t index = clamped(index_obj);
    const std::int64_t total = clamped(total_obj);
    const std::int64_t series_total = series ? clamped(series["total"]) : -1;
    switch (check_chunk(index, total, series_total, MAX_CHUNK_SERIES_CHUNKS)) {
    case ChunkVerdict::IndexOutOfRange:
        logger.error(std::string(text::INVALID_CHUNK_INDEX) + text_of(index_obj) +
                     text::FOR_TOTAL_CHUNKS + text_of(total_obj));
        return none;
    case ChunkVerdict::TooManyChunks:
        logger.error(std::string(text::CHUNK_SERIES_TOO_LONG) + text_of(total_obj) +
                     text::EXCEEDS_LIMIT_OF + std::to_string(MAX_CHUNK_SERIES_CHUNKS));
        return none;
    case ChunkVerdict::TotalMismatch:
        logger.error(std::string(text::CHUNK_TOTAL_MISMATCH) + text_of(total_obj) +
                     text::DIFFERS_FROM_SERIES + std::to_string(series_total) + text::FOR_CHUNK_ID +
                     text_of(chunk_id) + text::DROPPING_SERIES);
        drop(buffers, chunk_id);
        return none;
    case ChunkVerdict::Accept:
        break;
    }
    if (!data.is_none() && !PyUnicode_Check(data.ptr())) {
        logger.error(std::string(text::CHUNK_DATA_NOT_TEXT) + text_of(chunk_id) + text::GOT_PART +
                     Py_TYPE(data.ptr())->tp_name + text::DROPPED_SERIES_PART);
        if (series)
            drop(buffers, chunk_id);
        return none;
    }
    if (!series) {
        if (static_cast<std::size_t>(PyDict_GET_SIZE(buffers.ptr())) >= MAX_OPEN_CHUNK_SERIES) {
            // Dicts keep insertion order: the first key is the oldest open series.
            Py_ssize_t pos = 0;
            PyObject *key = nullptr;
            PyObject *value = nullptr;
            PyDict_Next(buffers.ptr(), &pos, &key, &value);
            py::object oldest = py::reinterpret_borrow<py::object>(key);
            logger.error(std::string(text::TOO_MANY_SERIES) + std::to_string(MAX_OPEN_CHUNK_SERIES) +
                         text::DROPPING_OLDEST + text_of(oldest));
            drop(buffers, oldest);
        }
        py::list slots(total);
        for (std::int64_t i = 0; i < total; ++i)
            PyList_SET_ITEM(slots.ptr(), i, Py_NewRef(Py_None));
        py::dict record;
        record["chunks"] = slots;
        record["received"] = py::int_(0);
        record["total"] = total_obj;
        record["size"] = py::int_(0);
        buffers[chunk_id] = record;
        series = record;
    }
    py::list slots = series["chunks"];
    if (PyList_GET_ITEM(slots.ptr(), index) == Py_None) {
        if (!data.is_none()) {
            const auto held = series["size"].cast<std::size_t>();
            const auto incoming = static_cast<std::size_t>(PyUnicode_GET_LENGTH(data.ptr()));
            if (!fits_series(held, incoming, MAX_CHUNK_SERIES_CHARS)) {
                logger.error(std::string(text::CHUNK_SERIES_TOO_LARGE) + text_of(chunk_id) +
                             text::EXCEEDS_LIMIT_OF + std::to_string(MAX_CHUNK_SERIES_CHARS) +
                             text::CHARS_LIMIT);
                drop(buffers, chunk_id);
                return none;
            }
            series["size"] = py::int_(held + incoming);
            slots[static_cast<std::size_t>(index)] = data;
        }
        series["received"] = py::int_(series["received"].cast<std::int64_t>() + 1);
    }
    if (series["received"].cast<std::int64_t>() < total)
        return none;
    drop(buffers, chunk_id);
    for (py::handle slot : slots) {
        if (slot.is_none()) {
            logger.error(std::string(text::INCOMPLETE_BUFFER) + text_of(chunk_id));
            return none;
        }
    }
    return parse_series(py::str("").attr("join")(slots), chunk_id);
}

Coro handle_chunk_message(py::object self, py::object message) {
    co_return reassemble_chunk(self, message);
}

} // namespace zm::kernel::core
