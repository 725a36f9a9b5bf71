#pragma once
/// Unloading every module that was imported from package directories being replaced, so that
/// the next import loads the new version.

#include "common/python.hpp"

#include <cstddef>

namespace zm::kernel::execution {

/// Records the modules loaded now as the kernel's own: their top-level packages are never
/// unloaded. Called once the kernel module has initialised.
void protect_loaded_modules();

/// Removes from sys.modules every module whose top-level package has a module with a `__file__`
/// starting with one of `paths` (plain string prefix; empty entries are skipped, as they would
/// match every file). Deeper names go first; packages the kernel loaded at start-up are kept.
/// Returns how many names were selected. `paths` must be a list of str.
std::size_t unload_modules_by_prefix(py::handle paths);

} // namespace zm::kernel::execution
