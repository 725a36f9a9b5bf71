#include "kernel/execution/stream_capture.hpp"

#include "common/args.hpp"
#include "common/python_class.hpp"
#include "kernel/execution/execution_runtime.hpp"
#include "kernel/execution/texts.hpp"

namespace zm::kernel::execution {

namespace {

void init(py::object self, py::object on_write) {
    self.attr("_buffer") = execution_runtime().string_io();
    self.attr("_on_write") = on_write;
}

/// Calls on_write(text) when it is set; an Exception from it (or from its truth test) is dropped.
void forward(py::handle on_write, py::handle text) {
    try {
        if (on_write.is_none() || !py::bool_(py::reinterpret_borrow<py::object>(on_write)))
            return;
        on_write(text);
    } catch (py::error_already_set &e) {
        if (!e.matches(PyExc_Exception))
            throw;
    }
}

Py_ssize_t write(py::object self, py::object text) {
    check_str(text, "text");
    const Py_ssize_t length = PyUnicode_GET_LENGTH(text.ptr());
    if (length == 0)
        return 0;
    self.attr("_buffer").attr("write")(text);
    forward(self.attr("_on_write"), text);
    return length;
}

} // namespace

py::dict stream_capture_namespace() {
    py::dict ns;
    ns["__init__"] = method("__init__", &init, py::arg("self"), py::arg("on_write") = py::none());
    ns["write"] = method("write", &write, py::arg("self"), py::arg("text"),
                         "Buffer `text` and pass it to the callback; returns its length.");
    ns["getvalue"] = method(
        "getvalue", [](py::object self) { return self.attr("_buffer").attr("getvalue")(); },
        py::arg("self"), "The whole buffered text.");
    ns["flush"] = method("flush", [](py::object) {}, py::arg("self"), doc::STREAM_CAPTURE_FLUSH);
    ns["readable"] = method("readable", [](py::object) { return false; }, py::arg("self"));
    ns["writable"] = method("writable", [](py::object) { return true; }, py::arg("self"));
    return ns;
}

py::object new_stream_capture(py::handle on_write) {
    return execution_runtime().stream_capture(on_write);
}

py::str capture_value(py::handle capture) {
    return capture.attr("_buffer").attr("getvalue")();
}

} // namespace zm::kernel::execution
