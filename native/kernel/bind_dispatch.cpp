// Registration of message dispatch: the kernel's dispatch hook.
#include "kernel/bindings.hpp"
#include "kernel/core/kernel_hooks.hpp"
#include "kernel/dispatch/message_dispatcher.hpp"

namespace zm::kernel {

void bind_dispatch(py::module_ &) { core::hooks().dispatch = &dispatch::dispatch_message; }

} // namespace zm::kernel
