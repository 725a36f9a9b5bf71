#pragma once
/// InMemoryModuleLoader: imports the workbook's modules from source held in memory.
///
/// Each module N compiles under the virtual file name "<virtual:N>", registered in the standard
/// line cache, so tracebacks, the debugger and source lookups show its lines.

#include "common/python.hpp"

#include <string>

namespace zm::kernel::execution {

/// The class namespace of InMemoryModuleLoader (MetaPathFinder and Loader subclass).
py::dict in_memory_module_loader_namespace();

/// "<virtual:" + name + ">".
py::str virtual_file_name(py::handle module_name);

/// Puts `loader` first on sys.meta_path unless it is already there; true when it inserted it.
bool install_meta_path_finder(py::handle loader);

} // namespace zm::kernel::execution
