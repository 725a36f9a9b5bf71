#pragma once
/// Registration functions of the kernel module, called by module.cpp in initialisation order.
/// One file per area folder; `PythonKernel`, whose methods come from every area, is defined
/// whole in bind_python_kernel.cpp.

#include "common/coroutine.hpp"
#include "common/python.hpp"

#include <utility>

namespace zm::kernel {

/// Standard modules, serializer choice, sibling modules, logging, constants.
void bind_core_init(py::module_ &m);

/// Code execution: executor, output capture, in-memory modules, search paths; imports the user
/// package and installs the module-wide in-memory loader.
void bind_execution(py::module_ &m);

/// MessageBatcher, json_dumps and main.
void bind_core(py::module_ &m);

/// PythonKernel: its whole Python-visible interface.
void bind_python_kernel(py::module_ &m);

/// Message dispatch: the dispatch runtime and the kernel's dispatch hook.
void bind_dispatch(py::module_ &m);

/// Synchronous request channel and stream sender: their runtime, the connect hooks and the
/// release waiter type.
void bind_channel(py::module_ &m);

/// Function invocation: _parse_error_location.
void bind_invocation(py::module_ &m);

/// A coroutine method for a class built with make_class.
template <class F, class... Extra>
py::object coroutine_method(const char *name, F &&f, const Extra &...extra) {
    py::cpp_function fn(std::forward<F>(f), py::name(name), extra...);
    return mark_coroutine_function(fn);
}

} // namespace zm::kernel
