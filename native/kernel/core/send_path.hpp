#pragma once
/// The one send path of outgoing messages: serialisation, the socket lock, chunking.

#include "common/coroutine.hpp"

namespace zm::kernel::core {

/// `message.get(key, fallback)` for a dict (or subclass).
py::object dict_get(py::handle message, const char *key, py::handle fallback);

/// str(value) as UTF-8, for log texts.
std::string text_of(py::handle value);

Coro send_message(py::object self, py::object message);
Coro send_message_direct(py::object self, py::object message);
Coro send_chunked_message(py::object self, py::object raw_json, py::object message_type,
                          py::object request_id);

} // namespace zm::kernel::core
