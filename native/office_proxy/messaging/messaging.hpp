#pragma once
/// Messaging: the synchronous request/response layer between worker threads and the add-in,
/// and the registry of Python callables the add-in may call back.
///
/// Its state lives in the instance's attributes (`waiters`, `_waiters_lock`, `_guid`, ...), so
/// the host can read them and replace `send_request_sync` (and `send_request_nowait`) on the
/// instance.

#include "common/python.hpp"

namespace zm::office_proxy::messaging {

void init(py::handle self);
void set_send_handler(py::handle self, py::handle handler);
py::object send_request_sync(py::handle self, py::handle req, py::handle timeout);
/// Sends `req` like send_request_sync but registers no waiter and returns at once: for requests
/// whose answer nobody reads (proxy releases). A late answer is dropped by `on_message`.
void send_request_nowait(py::handle self, py::handle req);
void on_message(py::handle self, py::handle message);
void reset(py::handle self);
py::str register_callable(py::handle self, py::handle callable_obj);
py::object get_callable(py::handle self, py::handle callable_id);
void unregister_callable(py::handle self, py::handle callable_id);

} // namespace zm::office_proxy::messaging
