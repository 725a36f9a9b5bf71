#pragma once
/// Workbook controls user code drives the add-in with: event handling on or off, and a message
/// box. Each is one message handed to the kernel's loop without waiting; callable from any thread.

#include "common/python.hpp"

namespace zm::kernel::registry {

/// Sends {"type": "set_enable_events", "enable": bool, "workbook_id"}.
void set_enable_events(py::handle kernel, py::handle enable);

/// Sends {"type": "show_message_box", "message", "title", "msg_type", "workbook_id"}; the three
/// texts are checked to be exact str objects by the bindings.
void show_message_box(py::handle kernel, py::handle message, py::handle title, py::handle type);

} // namespace zm::kernel::registry
