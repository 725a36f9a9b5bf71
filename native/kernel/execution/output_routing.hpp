#pragma once
/// Per-thread routing of sys.stdout and sys.stderr to the captures of the runs in progress.
///
/// Runs overlap (several workers run user code at once), so the standard streams cannot be
/// swapped process-wide for one run. While at least one run is active, sys.stdout and
/// sys.stderr are StreamRouter objects: a write goes to the writing thread's innermost capture,
/// or, on a thread that runs nothing, to the stream that was in place before the first run began
/// (the kernel's stream hook when connected, the console otherwise). When the last run ends the
/// previous streams are put back, unless something else replaced the routers meanwhile.

#include "common/python.hpp"

namespace zm::kernel::execution {

/// Which standard stream a router stands for.
enum class StdStream : int { out = 0, err = 1 };

/// sys.stdout or sys.stderr while runs are active.
class StreamRouter {
public:
    explicit StreamRouter(StdStream which) : which_(which) {}

    /// The writing thread's current capture, else the stream in place before the runs.
    py::object target() const;
    py::object flush() const;

private:
    StdStream which_;
};

/// For its lifetime, the current thread's writes to sys.stdout / sys.stderr go to `out` / `err`
/// (nesting: the innermost wins). Construct and destroy with the GIL held, on the same thread.
class OutputRedirect {
public:
    OutputRedirect(py::handle out, py::handle err);
    ~OutputRedirect();
    OutputRedirect(const OutputRedirect &) = delete;
    OutputRedirect &operator=(const OutputRedirect &) = delete;
};

/// Makes the two router objects (the StreamRouter class must be bound before).
void init_output_routing();

/// StreamRouter.write as a method object (a plain C function: it runs for every write).
py::object router_write_method();

} // namespace zm::kernel::execution
