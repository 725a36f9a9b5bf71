#pragma once
/// Registration of the kernel module's parts, called by module.cpp in initialisation order.

#include "common/python.hpp"

namespace zm::kernel {

/// Code execution: executor, output capture, in-memory modules, search paths; imports the user
/// package and installs the module-wide in-memory loader.
void bind_execution(py::module_ &m);

} // namespace zm::kernel
