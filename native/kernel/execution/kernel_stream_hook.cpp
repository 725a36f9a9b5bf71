#include "kernel/execution/kernel_stream_hook.hpp"

#include "common/args.hpp"
#include "common/error_record.hpp"
#include "common/exact_text.hpp"
#include "common/python_class.hpp"
#include "common/text_format.hpp"
#include "kernel/core/runtime.hpp"
#include "kernel/texts.hpp"

namespace zm::kernel::execution {

namespace {

/// Runs `fn`; an Exception it raises is dropped, anything else propagates.
template <class F> void swallow_exception(F &&fn) {
    try {
        fn();
    } catch (py::error_already_set &e) {
        if (!e.matches(PyExc_Exception))
            throw;
    }
}

void init_hook(py::object self, py::object stream_type, py::object send_callback) {
    check_str(stream_type, "stream_type");
    self.attr("stream_type") = stream_type;
    self.attr("send_callback") = send_callback;
    const bool is_stdout = py::str(stream_type).equal(py::str("stdout"));
    PyObject *original = PySys_GetObject(is_stdout ? "stdout" : "stderr");
    self.attr("_original_stream") =
        original == nullptr ? py::none() : py::reinterpret_borrow<py::object>(original);
}

Py_ssize_t write(py::object self, py::object text) {
    check_str(text, "text");
    const Py_ssize_t length = PyUnicode_GET_LENGTH(text.ptr());
    if (length == 0)
        return 0;
    py::object original = self.attr("_original_stream");
    swallow_exception([&] {
        original.attr("write")(text);
        original.attr("flush")();
    });
    py::object callback = self.attr("send_callback");
    bool failed = false;
    py::object error_text;
    try {
        if (!callback.is_none() && py::bool_(callback))
            callback(self.attr("stream_type"), text);
    } catch (py::error_already_set &e) {
        if (!e.matches(PyExc_Exception))
            throw;
        failed = true;
        error_text = exception_text(e.value());
    }
    if (failed) {
        swallow_exception([&] {
            original.attr("write")(
                zm::exact_str(zm::format(texts::HOOK_ERROR, zm::exact_utf8(error_text))));
        });
    }
    return length;
}

} // namespace

py::dict kernel_stream_hook_namespace() {
    py::dict ns;
    ns["__init__"] = method("__init__", &init_hook, py::arg("self"), py::arg("stream_type"),
                            py::arg("send_callback"));
    ns["write"] = method("write", &write, py::arg("self"), py::arg("text"),
                         "Echo `text` to the console and send it; returns its length.");
    ns["flush"] = method(
        "flush",
        [](py::object self) {
            swallow_exception([&] { self.attr("_original_stream").attr("flush")(); });
        },
        py::arg("self"), "Flush the underlying console stream, ignoring errors.");
    ns["readable"] = method("readable", [](py::object) { return false; }, py::arg("self"));
    ns["writable"] = method("writable", [](py::object) { return true; }, py::arg("self"));
    return ns;
}

} // namespace zm::kernel::execution
