#include "kernel/registry/workbook_controls.hpp"

#include "common/text_format.hpp"
#include "kernel/core/runtime.hpp"
#include "kernel/core/send_path.hpp"
#include "kernel/registry/object_registry.hpp"
#include "kernel/texts.hpp"

#include <string>

namespace zm::kernel::registry {

using core::text_of;

void set_enable_events(py::handle kernel, py::handle enable) {
    // The add-in reads a JSON boolean; any other value would also fail to serialise on the loop,
    // where nobody would hear of it.
    const int truth = PyObject_IsTrue(enable.ptr());
    if (truth < 0)
        throw py::error_already_set();
    notify(kernel, py::dict(py::arg("type") = "set_enable_events",
                            py::arg("enable") = py::bool_(truth == 1),
                            py::arg("workbook_id") = kernel.attr("workbook_id")));
    const Logger &logger = core::log();
    if (logger.debug_enabled())
        logger.debug(zm::format(texts::SET_ENABLE_EVENTS, truth == 1 ? "True" : "False"));
}

void show_message_box(py::handle kernel, py::handle message, py::handle title, py::handle type) {
    notify(kernel, py::dict(py::arg("type") = "show_message_box", py::arg("message") = message,
                            py::arg("title") = title, py::arg("msg_type") = type,
                            py::arg("workbook_id") = kernel.attr("workbook_id")));
    const Logger &logger = core::log();
    if (logger.debug_enabled())
        logger.debug(zm::format(texts::MESSAGE_BOX_REQUESTED, text_of(title), text_of(type)));
}

} // namespace zm::kernel::registry
