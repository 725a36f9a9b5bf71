#pragma once
/// The one send path of outgoing messages: serialisation, the socket lock, chunking.

#include "common/coroutine.hpp"

namespace zm::kernel::core {

/// `message.get(key, fallback)` for a dict (or subclass).
py::object dict_get(py::handle message, const char *key, py::handle fallback);

/// `message.get(key, fallback)` with an interned key.
inline py::object dict_get(py::handle message, const py::object &key, const py::object &fallback) {
    PyObject *value = PyDict_GetItemWithError(message.ptr(), key.ptr());
    if (value == nullptr && PyErr_Occurred())
        throw py::error_already_set();
    return py::reinterpret_borrow<py::object>(value != nullptr ? value : fallback.ptr());
}

/// str(value) as UTF-8, for log texts.
std::string text_of(py::handle value);

/// The protocol object of `websocket` when it is the library's own client connection (not a
/// stand-in) and open; else an empty object.
py::object open_protocol(py::handle websocket);

/// Sends `text` as one message on `websocket`: as a frame written straight to the transport
/// while the library's connection is open and idle, else through `websocket.send`. Either way
/// it waits while the transport is over its high-water mark.
Coro socket_send(py::object websocket, py::object text);

Coro send_message(py::object self, py::object message);
Coro send_message_direct(py::object self, py::object message);
Coro send_chunked_message(py::object self, py::object raw_json, py::object message_type,
                          py::object request_id);
/// Writes the chunk series of `raw_json`; the caller holds the socket lock.
Coro send_chunks(py::object websocket, py::object raw_json, py::object message_type,
                 py::object request_id);

} // namespace zm::kernel::core
