#include "kernel/registry/object_registry.hpp"

#include "common/text_format.hpp"
#include "kernel/channel/loop_submission.hpp"
#include "kernel/core/runtime.hpp"
#include "kernel/core/send_path.hpp"
#include "kernel/texts.hpp"

#include <string>
#include <utility>
#include <vector>

namespace zm::kernel::registry {

using channel::LockHold;
using core::text_of;

namespace {

py::object type_name(py::handle value) {
    return py::handle(reinterpret_cast<PyObject *>(Py_TYPE(value.ptr()))).attr("__name__");
}

/// repr(value); a repr that raises an Exception gives a description naming the failure, so
/// one broken object neither hides the others from the editor nor loses its notification.
py::object safe_repr(py::handle value, const py::object &name) {
    try {
        return py::repr(value);
    } catch (py::error_already_set &e) {
        if (!e.matches(PyExc_Exception))
            throw;
        return py::str(zm::format(texts::REPR_FAILED, text_of(name), text_of(e.value())));
    }
}

} // namespace

void notify(py::handle kernel, py::handle message) {
    try {
        channel::submit_message(kernel, message);
    } catch (py::error_already_set &e) {
        if (!e.matches(PyExc_Exception))
            throw;
        core::log().warning(zm::format(texts::NOTIFY_FAILED, text_of(message.attr("get")("type")),
                                       text_of(e.value())));
    }
}

void save_object(py::handle kernel, py::handle key, py::handle value) {
    if (PyUnicode_GET_LENGTH(key.ptr()) == 0) {
        PyErr_SetString(PyExc_ValueError, texts::EMPTY_KEY);
        throw py::error_already_set();
    }
    py::object replaced; // released after the lock: a finaliser may use the registry itself
    {
        LockHold hold(kernel.attr("_object_keeper_lock"));
        py::dict keeper = kernel.attr("_object_keeper");
        replaced = keeper.attr("get")(key);
        keeper[key] = value;
    }
    replaced = py::object();
    py::object name = type_name(value);
    notify(kernel, py::dict(py::arg("type") = "object_registry_update",
                            py::arg("action") = "update", py::arg("key") = key,
                            py::arg("object_type") = name, py::arg("repr") = safe_repr(value, name),
                            py::arg("workbook_id") = kernel.attr("workbook_id")));
    const Logger &logger = core::log();
    if (logger.debug_enabled())
        logger.debug(zm::format(texts::SAVED_OBJECT, text_of(key), text_of(name)));
}

py::object get_object(py::handle kernel, py::handle key) {
    LockHold hold(kernel.attr("_object_keeper_lock"));
    py::dict keeper = kernel.attr("_object_keeper");
    return keeper.attr("get")(key);
}

void clear_object(py::handle kernel, py::handle key) {
    py::object removed; // released after the lock: a finaliser may use the registry itself
    {
        LockHold hold(kernel.attr("_object_keeper_lock"));
        py::dict keeper = kernel.attr("_object_keeper");
        removed = keeper.attr("pop")(key, py::none());
    }
    removed = py::object();
    notify(kernel,
           py::dict(py::arg("type") = "object_registry_update", py::arg("action") = "delete",
                    py::arg("key") = key, py::arg("workbook_id") = kernel.attr("workbook_id")));
    const Logger &logger = core::log();
    if (logger.debug_enabled())
        logger.debug(zm::format(texts::CLEARED_OBJECT, text_of(key)));
}

void clear_all_objects(py::handle kernel) {
    py::object removed;
    {
        LockHold hold(kernel.attr("_object_keeper_lock"));
        py::dict keeper = kernel.attr("_object_keeper");
        removed = keeper.attr("copy")();
        keeper.clear();
    }
    removed = py::object();
    notify(kernel,
           py::dict(py::arg("type") = "object_registry_update", py::arg("action") = "clear_all",
                    py::arg("workbook_id") = kernel.attr("workbook_id")));
    const Logger &logger = core::log();
    if (logger.debug_enabled())
        logger.debug(texts::CLEARED_ALL);
}

py::list get_object_registry(py::handle kernel) {
    // The entries are copied under the lock and described after it: a repr may run any user
    // code, including code that uses the registry, which must not find the lock held.
    py::list items;
    {
        LockHold hold(kernel.attr("_object_keeper_lock"));
        py::dict keeper = kernel.attr("_object_keeper");
        items = py::list(keeper.attr("items")());
    }
    py::list entries;
    for (py::handle item : items) {
        py::tuple pair = py::reinterpret_borrow<py::tuple>(item);
        py::object name = type_name(pair[1]);
        entries.append(py::dict(py::arg("key") = pair[0], py::arg("type") = name,
                                py::arg("repr") = safe_repr(pair[1], name)));
    }
    return entries;
}

} // namespace zm::kernel::registry
