#pragma once
/// KernelStreamHook: the process-wide standard stream while a kernel is connected; echoes each
/// write to the console and hands it to the kernel's stream sender.

#include "common/python.hpp"

namespace zm::kernel::execution {

/// The class namespace of KernelStreamHook (an io.TextIOBase subclass).
py::dict kernel_stream_hook_namespace();

} // namespace zm::kernel::execution
