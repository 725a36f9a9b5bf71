#pragma once
/// Registration functions of the kernel module, called by module.cpp in initialisation order.

#include "common/python.hpp"

namespace zm::kernel {

/// Standard modules, serializer choice, sibling modules, logging, the user package, constants.
void bind_core_init(py::module_ &m);

/// Code execution: executor, output capture, in-memory modules, search paths; imports the user
/// package and installs the module-wide in-memory loader.
void bind_execution(py::module_ &m);

/// MessageBatcher, PythonKernel, json_dumps and main.
void bind_core(py::module_ &m);

/// Message dispatch and execution requests: the kernel's dispatch hook, _execute_code_async.
void bind_dispatch(py::module_ &m);

/// Editor requests: completion, signature help, hover and diagnostics on PythonKernel.
void bind_editor(py::module_ &m);
/// Event handler execution and streaming functions: _handle_event_execution,
/// _execute_streaming_function.
void bind_event_streaming(py::module_ &m);
/// Synchronous request channel, stream sender (the connect hooks), object registry and workbook
/// controls (PythonKernel methods).
void bind_channel(py::module_ &m);
/// Function invocation: custom function calls, registered callable calls, _deserialize_args.
void bind_invocation(py::module_ &m);

} // namespace zm::kernel
