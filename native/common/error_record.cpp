#include "common/error_record.hpp"

namespace zm {

py::str format_traceback(py::handle exc) {
    static PyObject *format_exception = [] {
        return py::object(py::module_::import("traceback").attr("format_exception"))
            .release()
            .ptr();
    }();
    py::object tb = py::reinterpret_steal<py::object>(PyException_GetTraceback(exc.ptr()));
    if (!tb)
        tb = py::none();
    py::object lines = py::reinterpret_borrow<py::object>(format_exception)(
        py::reinterpret_borrow<py::object>(reinterpret_cast<PyObject *>(Py_TYPE(exc.ptr()))), exc,
        tb);
    return py::str("").attr("join")(lines);
}

py::str exception_text(py::handle exc) {
    PyObject *s = PyObject_Str(exc.ptr());
    if (s == nullptr) {
        PyErr_Clear();
        return py::str("<exception str() failed>");
    }
    return py::reinterpret_steal<py::str>(s);
}

py::dict error_record(py::handle exc) {
    py::dict record;
    record["type"] =
        py::reinterpret_borrow<py::object>(reinterpret_cast<PyObject *>(Py_TYPE(exc.ptr())))
            .attr("__name__");
    record["message"] = exception_text(exc);
    record["traceback"] = format_traceback(exc);
    return record;
}

py::dict error_record(py::handle type, py::handle message, py::handle traceback) {
    py::dict record;
    record["type"] = type;
    record["message"] = message;
    record["traceback"] = traceback;
    return record;
}

} // namespace zm
