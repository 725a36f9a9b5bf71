// Registration of function invocation: custom function calls, registered callable calls and the
// argument conversion they share.
#include "common/args.hpp"
#include "common/coroutine.hpp"
#include "common/python_class.hpp"
#include "kernel/bindings.hpp"
#include "kernel/invocation/call_support.hpp"
#include "kernel/invocation/callable_call.hpp"
#include "kernel/invocation/custom_function_call.hpp"
#include "kernel/invocation/texts.hpp"

namespace zm::kernel {

void bind_invocation(py::module_ &m) {
    using namespace invocation;
    py::object kernel_class = m.attr("PythonKernel");
    py::cpp_function custom(
        [](py::object self, py::object message) {
            check_dict(message, "message");
            return handle_custom_function_call(self, message);
        },
        py::name("_handle_custom_function_call"), py::arg("self"), py::arg("message"),
        doc::HANDLE_CUSTOM_FUNCTION_CALL);
    py::setattr(kernel_class, "_handle_custom_function_call", mark_coroutine_function(custom));
    py::cpp_function callable(
        [](py::object self, py::object message) {
            check_dict(message, "message");
            return handle_python_function_call(self, message);
        },
        py::name("_handle_python_function_call"), py::arg("self"), py::arg("message"),
        doc::HANDLE_PYTHON_FUNCTION_CALL);
    py::setattr(kernel_class, "_handle_python_function_call", mark_coroutine_function(callable));
    py::setattr(kernel_class, "_deserialize_args",
                method(
                    "_deserialize_args",
                    [](py::object, py::object args) -> py::list {
                        check_list(args, "args");
                        return deserialize_args(args);
                    },
                    py::arg("self"), py::arg("args"), doc::DESERIALIZE_ARGS));
}

} // namespace zm::kernel
