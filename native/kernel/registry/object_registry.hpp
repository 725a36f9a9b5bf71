#pragma once
/// The object registry (the ObjectKeeper of the user package): objects user code keeps alive
/// between runs under a text key. Every change is announced to the Business Layer with an
/// "object_registry_update" message handed to the loop without waiting. Callable from any thread.
///
/// The keys are checked to be exact str objects by the bindings before these run.

#include "common/python.hpp"

namespace zm::kernel::registry {

void save_object(py::handle kernel, py::handle key, py::handle value);
py::object get_object(py::handle kernel, py::handle key);
void clear_object(py::handle kernel, py::handle key);
void clear_all_objects(py::handle kernel);

/// One {"key", "type", "repr"} description per entry, in registry order.
py::list get_object_registry(py::handle kernel);

/// Hands `message` to the kernel's loop; a failure (no loop yet, loop closed) is logged and
/// otherwise ignored: notifications are fire-and-forget.
void notify(py::handle kernel, py::handle message);

} // namespace zm::kernel::registry
