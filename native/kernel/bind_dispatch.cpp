// Registration of message dispatch: the dispatch runtime and the kernel's dispatch hook.
#include "kernel/bindings.hpp"
#include "kernel/core/kernel_hooks.hpp"
#include "kernel/dispatch/dispatch_runtime.hpp"
#include "kernel/dispatch/message_dispatcher.hpp"

namespace zm::kernel {

void bind_dispatch(py::module_ &) {
    dispatch::init_dispatch_runtime();
    core::hooks().dispatch = &dispatch::dispatch_message;
}

} // namespace zm::kernel
