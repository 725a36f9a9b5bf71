#include "office_proxy/wire/foreign_types.hpp"

#include <cmath>
#include <initializer_list>
#include <string>
#include <utility>
#include <vector>

namespace zm::office_proxy::wire {

namespace {

NumpyTypes numpy_cache;
PandasTypes pandas_cache;

/// The module named `name` once fully importable from sys.modules, else nullptr (no error).
PyObject *loaded_module(const char *name) {
    PyObject *modules = PyImport_GetModuleDict();
    PyObject *module = PyDict_GetItemString(modules, name);
    return module;
}

/// Fetches attributes; on any failure (a library still importing) nothing is kept.
bool fetch(PyObject *module, std::initializer_list<std::pair<const char *, PyObject **>> attrs) {
    std::vector<PyObject *> got;
    for (const auto &[name, slot] : attrs) {
        PyObject *value = PyObject_GetAttrString(module, name);
        if (value == nullptr) {
            PyErr_Clear();
            for (PyObject *o : got)
                Py_DECREF(o);
            return false;
        }
        got.push_back(value);
    }
    std::size_t i = 0;
    for (const auto &attr : attrs)
        *attr.second = got[i++]; // kept for the life of the process
    return true;
}

} // namespace

const NumpyTypes *numpy_types() {
    if (numpy_cache.module != nullptr)
        return &numpy_cache;
    PyObject *module = loaded_module("numpy");
    if (module == nullptr)
        return nullptr;
    NumpyTypes t;
    if (!fetch(module, {{"bool_", &t.bool_},
                        {"datetime64", &t.datetime64},
                        {"timedelta64", &t.timedelta64},
                        {"floating", &t.floating},
                        {"ndarray", &t.ndarray},
                        {"datetime_as_string", &t.datetime_as_string},
                        {"datetime_data", &t.datetime_data},
                        {"isnat", &t.isnat}}))
        return nullptr;
    t.module = Py_NewRef(module);
    numpy_cache = t;
    return &numpy_cache;
}

const PandasTypes *pandas_types() {
    if (pandas_cache.module != nullptr)
        return &pandas_cache;
    PyObject *module = loaded_module("pandas");
    if (module == nullptr)
        return nullptr;
    PandasTypes t;
    if (!fetch(module, {{"Series", &t.Series}, {"DataFrame", &t.DataFrame}, {"NA", &t.NA}}))
        return nullptr;
    t.module = Py_NewRef(module);
    pandas_cache = t;
    return &pandas_cache;
}

py::object numpy_datetime_text(const NumpyTypes &np, py::handle value) {
    py::handle as_string(np.datetime_as_string);
    py::object unit = py::handle(np.datetime_data)(value.attr("dtype"))[py::int_(0)];
    const std::string u = py::str(unit);
    // numpy answers with its own str subclass; the wire carries plain text.
    py::object text = (u == "Y" || u == "M" || u == "W") ? as_string(value, py::arg("unit") = "D")
                                                         : as_string(value);
    PyObject *plain = PyObject_Str(text.ptr());
    if (plain == nullptr)
        throw py::error_already_set();
    return py::reinterpret_steal<py::object>(plain);
}

bool is_missing_scalar(py::handle value) {
    PyObject *v = value.ptr();
    if (const PandasTypes *pd = pandas_types(); pd != nullptr && v == pd->NA)
        return true;
    const NumpyTypes *np = numpy_types();
    if (np == nullptr)
        return false;
    if (PyObject_TypeCheck(v, reinterpret_cast<PyTypeObject *>(np->floating))) {
        const double d = PyFloat_AsDouble(v);
        if (d == -1.0 && PyErr_Occurred()) {
            PyErr_Clear();
            return false;
        }
        return std::isnan(d);
    }
    if (PyObject_TypeCheck(v, reinterpret_cast<PyTypeObject *>(np->timedelta64))) {
        PyObject *nat = PyObject_CallOneArg(np->isnat, v);
        if (nat == nullptr) {
            PyErr_Clear();
            return false;
        }
        const int truth = PyObject_IsTrue(nat);
        Py_DECREF(nat);
        if (truth < 0)
            PyErr_Clear();
        return truth > 0;
    }
    return false;
}

} // namespace zm::office_proxy::wire
