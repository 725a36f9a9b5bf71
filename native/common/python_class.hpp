#pragma once
/// Classes that derive from Python classes (io.TextIOBase, list, dict, importlib ABCs) with
/// methods written in C++.
///
/// The class is made by calling the base's metaclass with a finished namespace. Methods are
/// `cpp_function`s wrapped with `PyInstanceMethod_New`, so they bind `self` like Python functions;
/// per-instance state lives in instance attributes. Methods take `self` as
/// `py::object`.

#include "common/python.hpp"

#include <string_view>

namespace zm {

/// A C++ callable that binds as a method when stored in a class namespace.
template <class F, class... Extra>
py::object method(const char *name, F &&f, const Extra &...extra) {
    // pybind11 gives functions named __init__/__setstate__ constructor semantics (it expects its
    // own instance as self), so such methods carry a neutral internal name.
    const std::string_view n(name);
    const char *internal = n == "__init__" ? "init" : n == "__setstate__" ? "setstate" : name;
    py::cpp_function fn(std::forward<F>(f), py::name(internal), extra...);
    PyObject *m = PyInstanceMethod_New(fn.ptr());
    if (m == nullptr)
        throw py::error_already_set();
    return py::reinterpret_steal<py::object>(m);
}

/// Creates `name` with `bases` through the metaclass of the first base, in module `module`.
py::object make_class(const char *module, const char *name, py::tuple bases, py::dict ns,
                      const char *doc = nullptr);

} // namespace zm
