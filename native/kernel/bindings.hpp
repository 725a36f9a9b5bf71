#pragma once
/// Registration functions of the kernel module, called by module.cpp in initialisation order.

#include "common/python.hpp"

namespace zm::kernel {

/// Standard modules, serializer choice, sibling modules, logging, the user package, constants.
void bind_core_init(py::module_ &m);

/// MessageBatcher, PythonKernel, json_dumps and main.
void bind_core(py::module_ &m);

} // namespace zm::kernel
