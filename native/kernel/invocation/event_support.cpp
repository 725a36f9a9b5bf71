#include "kernel/invocation/event_support.hpp"

#include "common/error_record.hpp"
#include "kernel/core/runtime.hpp"

namespace zm::kernel::invocation {

py::object import_into_sys_modules(py::handle module_name) {
    // Import by name (no statement text is compiled: a name is never run as code).
    py::module_::import("importlib").attr("import_module")(module_name);
    PyObject *modules = PyImport_GetModuleDict(); // borrowed
    PyObject *module = PyDict_GetItemWithError(modules, module_name.ptr()); // borrowed
    if (module == nullptr) {
        if (PyErr_Occurred())
            throw py::error_already_set();
        return py::none();
    }
    return py::reinterpret_borrow<py::object>(module);
}

void print_traceback(py::handle exc) {
    try {
        py::str text = format_traceback(exc);
        PyObject *stream = PySys_GetObject("stderr"); // borrowed
        if (stream != nullptr && stream != Py_None)
            py::handle(stream).attr("write")(text);
    } catch (py::error_already_set &) {
    }
}

} // namespace zm::kernel::invocation
