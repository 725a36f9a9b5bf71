#pragma once
/// ConsoleGlobals: the global mapping of console code.
///
/// Console runs execute with two mappings: top-level bindings land in the executor's `locals`,
/// while the global mapping holds only the injected names. Functions, lambdas and generator
/// expressions defined at the console resolve free names through their global mapping, so on
/// their own they would not see `import math` or `x = 1` of an earlier run. ConsoleGlobals is a
/// dict subclass whose `__missing__` falls back to the console's locals (then the builtins),
/// which the interpreter consults for global lookups in such code. Its own keys stay exactly the
/// injected names.

#include "common/python.hpp"

namespace zm::kernel::execution {

/// The class namespace of ConsoleGlobals (a dict subclass).
py::dict console_globals_namespace();

/// A new ConsoleGlobals whose missing names are looked up in `locals`.
py::object new_console_globals(py::handle locals);

/// Points the fallback of `globals` (if it is a ConsoleGlobals) at `locals`.
void set_console_locals(py::handle globals, py::handle locals);

} // namespace zm::kernel::execution
