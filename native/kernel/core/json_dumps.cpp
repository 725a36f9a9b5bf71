#include "kernel/core/json_dumps.hpp"

#include "kernel/core/runtime.hpp"

#include <cmath>

namespace zm::kernel::core {

namespace {

py::object decode(py::handle bytes) {
    PyObject *s = PyUnicode_DecodeUTF8(PyBytes_AS_STRING(bytes.ptr()),
                                       PyBytes_GET_SIZE(bytes.ptr()), "strict");
    if (s == nullptr)
        throw py::error_already_set();
    return py::reinterpret_steal<py::object>(s);
}

/// A copy of `obj` in which every non-finite float is None; containers are copied only where
/// something changed. `json` writes such floats as NaN/Infinity, which is not JSON.
py::object finite_only(py::handle obj) {
    if (PyFloat_Check(obj.ptr())) {
        return std::isfinite(PyFloat_AS_DOUBLE(obj.ptr()))
                   ? py::reinterpret_borrow<py::object>(obj)
                   : py::none();
    }
    const bool is_dict = PyDict_Check(obj.ptr());
    const bool is_seq = PyList_Check(obj.ptr()) || PyTuple_Check(obj.ptr());
    if (!is_dict && !is_seq)
        return py::reinterpret_borrow<py::object>(obj);
    if (Py_EnterRecursiveCall(" while serializing a message") != 0)
        throw py::error_already_set();
    struct Leave {
        ~Leave() { Py_LeaveRecursiveCall(); }
    } leave;
    if (is_dict) {
        py::dict out;
        for (auto [key, value] : py::reinterpret_borrow<py::dict>(obj))
            out[key] = finite_only(value);
        return out;
    }
    py::list out;
    for (py::handle item : obj)
        out.append(finite_only(item));
    return out;
}

py::object json_fallback(py::handle obj, bool compact) {
    Runtime &rt = runtime();
    py::object clean = finite_only(obj);
    if (!compact)
        return rt.json_dumps(clean);
    return rt.json_dumps(clean, py::arg("ensure_ascii") = false,
                         py::arg("separators") = py::make_tuple(",", ":"));
}

} // namespace

py::object json_dumps(py::handle obj) {
    Runtime &rt = runtime();
    if (rt.orjson_dumps.is_none())
        return json_fallback(obj, false);
    PyObject *bytes = PyObject_CallOneArg(rt.orjson_dumps.ptr(), obj.ptr());
    if (bytes != nullptr)
        return decode(py::reinterpret_steal<py::object>(bytes));
    if (!PyErr_ExceptionMatches(PyExc_TypeError))
        throw py::error_already_set();
    py::error_already_set original;
    // Keys that are not text: orjson writes them itself when asked.
    PyObject *retry = PyObject_Call(rt.orjson_dumps.ptr(), py::make_tuple(obj).ptr(),
                                    py::dict(py::arg("option") = rt.orjson_non_str_keys).ptr());
    if (retry != nullptr)
        return decode(py::reinterpret_steal<py::object>(retry));
    PyErr_Clear();
    // Integers beyond 64 bits: json writes them exactly, in orjson's compact form.
    try {
        return json_fallback(obj, true);
    } catch (py::error_already_set &) {
    }
    throw original;
}

} // namespace zm::kernel::core
