#include "kernel/execution/stream_capture.hpp"

#include "common/args.hpp"
#include "common/python_class.hpp"
#include "common/text_format.hpp"
#include "kernel/core/runtime.hpp"
#include "kernel/texts.hpp"

namespace zm::kernel::execution {

namespace {

PyObject *interned(const char *text) {
    PyObject *s = PyUnicode_InternFromString(text);
    if (s == nullptr)
        throw py::error_already_set();
    return s;
}

struct Names {
    PyObject *buffer = interned("_buffer");
    PyObject *on_write = interned("_on_write");
    PyObject *write = interned("write");
    PyObject *getvalue = interned("getvalue");
    PyObject *tell = interned("tell");
};

const Names &names() {
    static const Names n;
    return n;
}

py::object attribute(PyObject *obj, PyObject *name) {
    PyObject *value = PyObject_GetAttr(obj, name);
    if (value == nullptr)
        throw py::error_already_set();
    return py::reinterpret_steal<py::object>(value);
}

void init(py::object self, py::object on_write) {
    py::setattr(self, names().buffer, core::runtime().string_io());
    py::setattr(self, names().on_write, on_write);
}

/// write(self, text) as a plain C function: it runs for every piece a run prints.
PyObject *write_method(PyObject *, PyObject *const *args, Py_ssize_t nargs) {
    if (nargs != 2) {
        PyErr_SetString(PyExc_TypeError, "write() takes exactly one argument");
        return nullptr;
    }
    try {
        return PyLong_FromSsize_t(capture_write(args[0], args[1]));
    } catch (py::error_already_set &e) {
        e.restore();
        return nullptr;
    } catch (const std::exception &e) {
        PyErr_SetString(PyExc_RuntimeError, e.what());
        return nullptr;
    }
}

/// A capture whose pieces go on to a callback has streamed them already; of its own text it keeps
/// the last STREAMED_CAPTURE_LIMIT characters or more (less than twice that), from a line start
/// where one lies in the kept part, so a run printing for minutes holds megabytes, not gigabytes.
void trim_streamed(PyObject *capture, PyObject *buffer) {
    PyObject *position = PyObject_CallMethodNoArgs(buffer, names().tell);
    if (position == nullptr)
        throw py::error_already_set();
    const Py_ssize_t size = PyLong_AsSsize_t(position);
    Py_DECREF(position);
    if (size == -1 && PyErr_Occurred())
        throw py::error_already_set();
    if (size < 2 * STREAMED_CAPTURE_LIMIT)
        return;
    py::str value = capture_value(py::handle(capture));
    const Py_ssize_t length = PyUnicode_GET_LENGTH(value.ptr());
    Py_ssize_t start = length - STREAMED_CAPTURE_LIMIT;
    const Py_ssize_t line_end = PyUnicode_FindChar(value.ptr(), '\n', start, length, 1);
    if (line_end == -2)
        throw py::error_already_set();
    if (line_end >= 0 && line_end + 1 < length)
        start = line_end + 1;
    PyObject *tail = PyUnicode_Substring(value.ptr(), start, length);
    if (tail == nullptr)
        throw py::error_already_set();
    py::object kept = py::reinterpret_steal<py::object>(tail);
    py::object fresh = core::runtime().string_io();
    PyObject *written = PyObject_CallMethodOneArg(fresh.ptr(), names().write, kept.ptr());
    if (written == nullptr)
        throw py::error_already_set();
    Py_DECREF(written);
    py::setattr(capture, names().buffer, fresh);
}

PyMethodDef write_def = {
    "write", reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(&write_method)),
    METH_FASTCALL, "Buffer `text` and pass it to the callback; returns its length."};

} // namespace

Py_ssize_t capture_write(PyObject *capture, PyObject *text) {
    if (!PyUnicode_CheckExact(text))
        raise_argument_type("text", "str", text);
    const Py_ssize_t length = PyUnicode_GET_LENGTH(text);
    if (length == 0)
        return 0;
    py::object buffer = attribute(capture, names().buffer);
    PyObject *written = PyObject_CallMethodOneArg(buffer.ptr(), names().write, text);
    if (written == nullptr)
        throw py::error_already_set();
    Py_DECREF(written);

    // The callback: set (truthy) means called; an Exception from it is dropped.
    py::object on_write = attribute(capture, names().on_write);
    if (on_write.is_none())
        return length;
    const int truthy = PyObject_IsTrue(on_write.ptr());
    if (truthy == 1)
        trim_streamed(capture, buffer.ptr());
    PyObject *result = truthy == 1 ? PyObject_CallOneArg(on_write.ptr(), text) : nullptr;
    if (result != nullptr) {
        Py_DECREF(result);
    } else if (PyErr_Occurred()) {
        if (!PyErr_ExceptionMatches(PyExc_Exception))
            throw py::error_already_set();
        PyErr_Clear();
    }
    return length;
}

bool is_stream_capture(PyObject *stream) {
    PyObject *type = reinterpret_cast<PyObject *>(Py_TYPE(stream));
    return type == core::runtime().stream_capture.ptr();
}

py::object fast_method(PyMethodDef *def) {
    PyObject *fn = PyCFunction_New(def, nullptr);
    if (fn == nullptr)
        throw py::error_already_set();
    PyObject *as_method = PyInstanceMethod_New(fn);
    Py_DECREF(fn);
    if (as_method == nullptr)
        throw py::error_already_set();
    return py::reinterpret_steal<py::object>(as_method);
}

py::dict stream_capture_namespace() {
    py::dict ns;
    ns["__init__"] = method("__init__", &init, py::arg("self"), py::arg("on_write") = py::none());
    ns["write"] = fast_method(&write_def);
    ns["getvalue"] = method(
        "getvalue", [](py::object self) { return capture_value(self); }, py::arg("self"),
        "The whole buffered text.");
    ns["flush"] =
        method("flush", [](py::object) {}, py::arg("self"), texts::doc::STREAM_CAPTURE_FLUSH);
    ns["readable"] = method("readable", [](py::object) { return false; }, py::arg("self"));
    ns["writable"] = method("writable", [](py::object) { return true; }, py::arg("self"));
    return ns;
}

py::object new_stream_capture(py::handle on_write) {
    return core::runtime().stream_capture(on_write);
}

py::str capture_value(py::handle capture) {
    py::object buffer = attribute(capture.ptr(), names().buffer);
    PyObject *value = PyObject_CallMethodNoArgs(buffer.ptr(), names().getvalue);
    if (value == nullptr)
        throw py::error_already_set();
    return py::reinterpret_steal<py::str>(value);
}

} // namespace zm::kernel::execution
