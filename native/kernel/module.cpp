#include "common/coroutine.hpp"
#include "kernel/bindings.hpp"
#include "kernel/execution/module_unloader.hpp"

PYBIND11_MODULE(kernel, m) {
    m.doc() = "The per-workbook kernel process: connection, send path, dispatch, execution and "
              "function invocation.";
    zm::init_common(m);
    zm::kernel::bind_core_init(m);
    zm::kernel::bind_execution(m);
    zm::kernel::bind_core(m);
    zm::kernel::bind_python_kernel(m);
    zm::kernel::bind_dispatch(m);
    zm::kernel::bind_channel(m);
    zm::kernel::bind_invocation(m);
    zm::kernel::execution::protect_loaded_modules();
}
