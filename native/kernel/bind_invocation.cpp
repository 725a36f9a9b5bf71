// Registration of function invocation: custom function calls, registered callable calls, the
// argument conversion they share, module runs and debug runs.
#include "common/args.hpp"
#include "common/coroutine.hpp"
#include "common/python_class.hpp"
#include "kernel/bindings.hpp"
#include "kernel/invocation/call_support.hpp"
#include "kernel/invocation/callable_call.hpp"
#include "kernel/invocation/custom_function_call.hpp"
#include "kernel/invocation/module_run.hpp"
#include "kernel/texts.hpp"

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
        texts::doc::HANDLE_CUSTOM_FUNCTION_CALL);
    py::setattr(kernel_class, "_handle_custom_function_call", mark_coroutine_function(custom));
    py::cpp_function callable(
        [](py::object self, py::object message) {
            check_dict(message, "message");
            return handle_python_function_call(self, message);
        },
        py::name("_handle_python_function_call"), py::arg("self"), py::arg("message"),
        texts::doc::HANDLE_PYTHON_FUNCTION_CALL);
    py::setattr(kernel_class, "_handle_python_function_call", mark_coroutine_function(callable));
    py::cpp_function run_module(
        [](py::object self, py::object message) {
            check_dict(message, "message");
            return handle_run_module(self, message);
        },
        py::name("_handle_run_module"), py::arg("self"), py::arg("message"),
        texts::doc::HANDLE_RUN_MODULE);
    py::setattr(kernel_class, "_handle_run_module", mark_coroutine_function(run_module));
    py::cpp_function debug_run_module(
        [](py::object self, py::object module_name, py::object function_name, py::object args,
           py::object breakpoints, py::object request_id, py::object workbook_id,
           py::object source) {
            check_str(module_name, "module_name");
            check_str(function_name, "function_name");
            check_list(args, "args");
            check_list(breakpoints, "breakpoints");
            check_str(request_id, "request_id", true);
            check_str(workbook_id, "workbook_id");
            check_str(source, "source");
            return handle_debug_run_module(self, module_name, function_name, args, breakpoints,
                                           request_id, workbook_id, source);
        },
        py::name("_handle_debug_run_module"), py::arg("self"), py::arg("module_name"),
        py::arg("function_name"), py::arg("args"), py::arg("breakpoints"), py::arg("request_id"),
        py::arg("workbook_id"), py::arg("source") = "ide", texts::doc::HANDLE_DEBUG_RUN_MODULE);
    py::setattr(kernel_class, "_handle_debug_run_module",
                mark_coroutine_function(debug_run_module));
    m.def("_parse_error_location", &parse_error_location, py::arg("traceback_str"),
          py::arg("in_memory_modules"), texts::doc::PARSE_ERROR_LOCATION);
    py::setattr(kernel_class, "_deserialize_args",
                method(
                    "_deserialize_args",
                    [](py::object, py::object args) -> py::list {
                        check_list(args, "args");
                        return deserialize_args(args);
                    },
                    py::arg("self"), py::arg("args"), texts::doc::DESERIALIZE_ARGS));
}

} // namespace zm::kernel
