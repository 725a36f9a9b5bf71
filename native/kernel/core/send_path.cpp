#include "kernel/core/send_path.hpp"

#include "common/args.hpp"
#include "common/error_record.hpp"
#include "common/text_format.hpp"
#include "kernel/core/chunk_plan.hpp"
#include "kernel/core/constants.hpp"
#include "kernel/core/json_dumps.hpp"
#include "kernel/core/output_queue.hpp"
#include "kernel/core/runtime.hpp"
#include "kernel/core/ws_frame.hpp"
#include "kernel/texts.hpp"

#include <chrono>
#include <cstdio>
#include <optional>

namespace zm::kernel::core {

py::object dict_get(py::handle message, const char *key, py::handle fallback) {
    PyObject *value = PyDict_GetItemString(message.ptr(), key);
    return py::reinterpret_borrow<py::object>(value != nullptr ? value : fallback.ptr());
}

std::string text_of(py::handle value) {
    if (PyUnicode_Check(value.ptr()))
        return utf8(value);
    return utf8(py::str(value));
}

namespace {

/// Why `websocket.send` failed, when the failure is one to drop the message for: anything but a
/// lost connection (the caller decides what that means) and exits. Else it rethrows.
std::string send_failure(py::error_already_set &e) {
    if (e.matches(runtime().connection_closed.ptr()) || !e.matches(PyExc_Exception))
        throw;
    return std::string(Py_TYPE(e.value().ptr())->tp_name) + ": " +
           text_of(exception_text(e.value()));
}

/// One message the library refused is logged and dropped: it never ends the connection.
void log_dropped(py::handle msg_type, py::handle request_id, const std::string &failure) {
    log().error(zm::format(texts::SEND_FAILED, text_of(msg_type), text_of(request_id), failure));
}

/// The transport to write a frame to directly, or an empty object where the library's send must
/// do it: not the library's open connection (`open_protocol`), one lacking what is read here or
/// in the middle of a fragmented message, or a transport already closing (the library then
/// raises what the caller expects).
py::object direct_transport(py::handle websocket) {
    const Runtime::Socket &s = runtime().socket;
    if (!open_protocol(websocket))
        return py::object();
    py::object in_progress = attr_if_any(websocket, s.send_in_progress);
    if (!in_progress || !in_progress.is_none() || !attr_if_any(websocket, s.paused))
        return py::object();
    py::object transport = attr_if_any(websocket, s.transport);
    if (!transport || PyObject_IsTrue(get_attr(transport, s.is_closing)().ptr()))
        return py::object();
    return transport;
}

double now_seconds() {
    using namespace std::chrono;
    return duration<double>(system_clock::now().time_since_epoch()).count();
}

} // namespace

py::object open_protocol(py::handle websocket) {
    const Runtime::Socket &s = runtime().socket;
    if (Py_TYPE(websocket.ptr()) != reinterpret_cast<PyTypeObject *>(s.client_type.ptr()))
        return py::object();
    py::object protocol = attr_if_any(websocket, s.protocol);
    py::object state = protocol ? attr_if_any(protocol, s.state) : py::object();
    return state && state.ptr() == s.open.ptr() ? protocol : py::object();
}

Coro socket_send(py::object websocket, py::object text) {
    py::object transport = PyUnicode_Check(text.ptr()) ? direct_transport(websocket) : py::object();
    if (!transport) {
        co_await get_attr(websocket, runtime().names.send)(text);
        co_return py::none();
    }
    Py_ssize_t size = 0;
    const char *utf8 = PyUnicode_AsUTF8AndSize(text.ptr(), &size);
    if (utf8 == nullptr)
        throw py::error_already_set(); // lone surrogates: the library's encode refuses them too
    const auto length = static_cast<std::size_t>(size);
    PyObject *frame =
        PyBytes_FromStringAndSize(nullptr, static_cast<Py_ssize_t>(client_frame_size(length)));
    if (frame == nullptr)
        throw py::error_already_set();
    py::object owned = py::reinterpret_steal<py::object>(frame);
    write_client_frame(WS_OPCODE_TEXT, reinterpret_cast<const unsigned char *>(utf8), length,
                       next_mask_key(),
                       reinterpret_cast<unsigned char *>(PyBytes_AS_STRING(frame)));
    const Runtime::Socket &s = runtime().socket;
    get_attr(transport, s.write)(owned);
    // The library's flow control: a write that took the transport past its high-water mark
    // waits until the transport drains.
    if (PyObject_IsTrue(get_attr(websocket, s.paused).ptr()))
        co_await get_attr(websocket, s.drain)();
    co_return py::none();
}

Coro send_message(py::object self, py::object message) {
    co_return co_await send_message_direct(self, message);
}

Coro send_message_direct(py::object self, py::object message) {
    const Runtime::Names &n = runtime().names;
    py::object msg_type = dict_get(message, n.type, n.unknown);
    py::object request_id = dict_get(message, n.request_id, n.na);
    py::object websocket = get_attr(self, n.websocket);
    py::object lock = get_attr(self, n.socket_lock);
    if (!PyObject_IsTrue(websocket.ptr())) {
        log().warning(zm::format(texts::CANNOT_SEND_NOT_CONNECTED, text_of(msg_type)));
        co_return py::none();
    }
    if (lock.is_none()) {
        log().warning(zm::format(texts::CANNOT_SEND_NO_LOCK, text_of(msg_type)));
        co_return py::none();
    }
    const bool debug = debug_on();
    if (debug)
        log().debug(zm::format(texts::ACQUIRING_LOCK, text_of(msg_type), text_of(request_id)));
    const double start = now_seconds();
    // Serialised before the lock: the lock covers only the socket write.
    py::object raw_json = json_dumps(message);
    if (static_cast<std::size_t>(PyUnicode_GET_LENGTH(raw_json.ptr())) > CHUNK_SIZE) {
        co_await send_chunked_message(self, raw_json, msg_type, request_id);
        co_return py::none();
    }
    co_await get_attr(lock, n.acquire)();
    std::optional<std::string> failure;
    {
        ScopeGuard release([lock]() { get_attr(lock, runtime().names.release)(); });
        const double waited_ms = (now_seconds() - start) * 1000.0;
        if (waited_ms > SOCKET_LOCK_WARN_MS) {
            char waited[32];
            std::snprintf(waited, sizeof waited, "%.1f", waited_ms);
            log().warning(zm::format(texts::LOCK_WAITED, waited, text_of(msg_type)));
        }
        // Output queued before this message leaves first: a run's output never trails its result.
        std::shared_ptr<OutputQueue> output = output_queue_of(self);
        if (output && output->has_pending())
            co_await send_queued_output(websocket, output);
        try {
            co_await socket_send(websocket, raw_json);
        } catch (py::error_already_set &e) {
            failure = send_failure(e);
        }
    }
    if (failure) {
        log_dropped(msg_type, request_id, *failure);
        co_return py::none();
    }
    if (debug)
        log().debug(zm::format(texts::MESSAGE_SENT, text_of(msg_type), text_of(request_id)));
    co_return py::none();
}

Coro send_chunked_message(py::object self, py::object raw_json, py::object message_type,
                          py::object request_id) {
    const Logger &logger = log();
    py::object websocket = self.attr("websocket");
    py::object lock = self.attr("_socket_lock");
    if (!PyObject_IsTrue(websocket.ptr()) || lock.is_none()) {
        logger.warning(lock.is_none() && PyObject_IsTrue(websocket.ptr())
                           ? zm::format(texts::CANNOT_SEND_NO_LOCK, text_of(message_type))
                           : zm::format(texts::CANNOT_SEND_NOT_CONNECTED, text_of(message_type)));
        co_return py::none();
    }
    co_await lock.attr("acquire")();
    {
        ScopeGuard release([lock]() { lock.attr("release")(); });
        std::shared_ptr<OutputQueue> output = output_queue_of(self);
        if (output && output->has_pending())
            co_await send_queued_output(websocket, output);
        co_await send_chunks(websocket, raw_json, message_type, request_id);
    }
    co_return py::none();
}

Coro send_chunks(py::object websocket, py::object raw_json, py::object message_type,
                 py::object request_id) {
    const Logger &logger = log();
    py::str chunk_id(runtime().uuid4());
    const auto length = static_cast<std::size_t>(PyUnicode_GET_LENGTH(raw_json.ptr()));
    const std::size_t total = chunk_count(length, CHUNK_SIZE);
    logger.info(zm::format(texts::CHUNKING, text_of(message_type), length, total));
    py::str chunk_type(CHUNK_HEADER_TYPE);
    py::int_ total_obj(total);
    for (std::size_t i = 0; i < total; ++i) {
        const ChunkSpan span = chunk_span(i, length, CHUNK_SIZE);
        PyObject *data = PyUnicode_Substring(raw_json.ptr(), static_cast<Py_ssize_t>(span.begin),
                                             static_cast<Py_ssize_t>(span.end));
        if (data == nullptr)
            throw py::error_already_set();
        py::dict chunk;
        chunk["type"] = chunk_type;
        chunk["chunk_id"] = chunk_id;
        chunk["chunk_index"] = py::int_(i);
        chunk["total_chunks"] = total_obj;
        chunk["data"] = py::reinterpret_steal<py::object>(data);
        chunk["original_type"] = message_type;
        chunk["request_id"] = request_id;
        std::optional<std::string> failure;
        try {
            co_await socket_send(websocket, json_dumps(chunk));
        } catch (py::error_already_set &e) {
            failure = send_failure(e);
        }
        if (failure) {
            // The rest of a series the peer cannot reassemble is not worth sending.
            log_dropped(message_type, request_id, *failure);
            co_return py::none();
        }
    }
    if (logger.debug_enabled())
        logger.debug(zm::format(texts::CHUNKS_SENT, total, text_of(message_type), utf8(chunk_id)));
    co_return py::none();
}

} // namespace zm::kernel::core
