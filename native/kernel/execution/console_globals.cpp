#include "kernel/execution/console_globals.hpp"

#include "kernel/core/runtime.hpp"
#include "kernel/execution/stream_capture.hpp"

namespace zm::kernel::execution {

namespace {

PyObject *locals_attr() {
    static PyObject *name = PyUnicode_InternFromString("_locals");
    return name;
}

PyObject *builtins_key() {
    static PyObject *name = PyUnicode_InternFromString("__builtins__");
    return name;
}

/// Looks `key` up in the dict-like `mapping`: a new reference, or nullptr with no error set
/// when absent (an error other than a missing key stays set, with nullptr).
PyObject *lookup(PyObject *mapping, PyObject *key) {
    if (PyDict_Check(mapping)) {
        PyObject *value = PyDict_GetItemWithError(mapping, key);
        Py_XINCREF(value);
        return value;
    }
    PyObject *value = PyObject_GetItem(mapping, key);
    if (value == nullptr && PyErr_ExceptionMatches(PyExc_KeyError))
        PyErr_Clear();
    return value;
}

/// __missing__(self, key): the console's locals, then the builtins, else KeyError. Written as a
/// plain C function: it runs on every global lookup of console-defined code that misses.
PyObject *missing(PyObject *, PyObject *const *args, Py_ssize_t nargs) {
    if (nargs != 2) {
        PyErr_SetString(PyExc_TypeError, "__missing__ expects one key");
        return nullptr;
    }
    PyObject *self = args[0];
    PyObject *key = args[1];
    PyObject *locals = PyObject_GetAttr(self, locals_attr());
    if (locals == nullptr) {
        if (!PyErr_ExceptionMatches(PyExc_AttributeError))
            return nullptr;
        PyErr_Clear();
    } else {
        PyObject *value = lookup(locals, key);
        Py_DECREF(locals);
        if (value != nullptr || PyErr_Occurred())
            return value;
    }
    PyObject *builtins = PyDict_GetItemWithError(self, builtins_key());
    if (builtins == nullptr && PyErr_Occurred())
        return nullptr;
    if (builtins != nullptr) {
        PyObject *namespace_ = PyModule_Check(builtins) ? PyModule_GetDict(builtins) : builtins;
        PyObject *value = lookup(namespace_, key);
        if (value != nullptr || PyErr_Occurred())
            return value;
    }
    PyErr_SetObject(PyExc_KeyError, key);
    return nullptr;
}

PyMethodDef missing_def = {"__missing__",
                           reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(&missing)),
                           METH_FASTCALL, "The console's binding of a name missing here."};

} // namespace

py::dict console_globals_namespace() {
    py::dict ns;
    ns["__missing__"] = fast_method(&missing_def);
    return ns;
}

py::object new_console_globals(py::handle locals) {
    py::object globals = core::runtime().console_globals();
    set_console_locals(globals, locals);
    return globals;
}

void set_console_locals(py::handle globals, py::handle locals) {
    py::handle cls = core::runtime().console_globals;
    if (PyObject_TypeCheck(globals.ptr(), reinterpret_cast<PyTypeObject *>(cls.ptr())))
        py::setattr(globals, locals_attr(), locals);
}

} // namespace zm::kernel::execution
