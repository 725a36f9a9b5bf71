// Registration of message dispatch: the kernel's dispatch hook and _execute_code_async.
#include "common/args.hpp"
#include "common/coroutine.hpp"
#include "kernel/bindings.hpp"
#include "kernel/core/kernel_hooks.hpp"
#include "kernel/core/python_kernel.hpp"
#include "kernel/dispatch/execution_request.hpp"
#include "kernel/dispatch/message_dispatcher.hpp"
#include "kernel/texts.hpp"

namespace zm::kernel {

void bind_dispatch(py::module_ &m) {
    using namespace dispatch;
    py::object kernel_class = m.attr("PythonKernel");
    py::cpp_function execute(
        [](py::object self, py::object code, py::object request_id, py::object function_name,
           py::object source) {
            check_execute_args(code, request_id, function_name, source);
            return execute_code_async(self, code, request_id, function_name, source);
        },
        py::name("_execute_code_async"), py::arg("self"), py::arg("code"), py::arg("request_id"),
        py::arg("function_name") = py::none(), py::arg("source") = "ide",
        texts::doc::EXECUTE_CODE_ASYNC);
    py::setattr(kernel_class, "_execute_code_async", mark_coroutine_function(execute));
    core::OwnMethods &own = core::own_methods();
    own.execute_code_async = core::class_function(kernel_class, "_execute_code_async");
    own.execute_code_async_name =
        py::reinterpret_steal<py::object>(PyUnicode_InternFromString("_execute_code_async"));
    own.code_executor = m.attr("CodeExecutor");
    own.execute = core::class_function(own.code_executor, "execute");
    own.execute_name = py::reinterpret_steal<py::object>(PyUnicode_InternFromString("execute"));
    core::hooks().dispatch = &dispatch_message;
}

} // namespace zm::kernel
