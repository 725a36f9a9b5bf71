#pragma once
/// The Python objects that code execution uses on every run, looked up once at import.

#include "common/python.hpp"

namespace zm::kernel::execution {

struct ExecutionRuntime {
    py::module_ builtins;       ///< the builtins module
    py::object compile;         ///< builtins.compile
    py::module_ sys;            ///< sys
    py::module_ linecache;      ///< linecache (its `cache` is read at each use)
    py::object module_spec;     ///< importlib.machinery.ModuleSpec
    py::object string_io;       ///< io.StringIO
    py::object text_io_base;    ///< io.TextIOBase
    py::object user_package;    ///< the user package `zentrel`
    py::object stream_capture;  ///< the StreamCapture class
    py::object console_globals; ///< the ConsoleGlobals class
};

/// Looks the objects up; called once while the kernel module initialises.
void init_execution_runtime();

/// The objects looked up by init_execution_runtime (never destroyed).
ExecutionRuntime &execution_runtime();

/// compile(source, filename, mode) without inheriting the caller's future flags.
py::object compile_source(py::handle source, const char *filename, const char *mode);

/// Runs compiled code with the two mappings; returns what the code evaluates to.
py::object eval_code(py::handle code, py::handle globals, py::handle locals);

} // namespace zm::kernel::execution
