// Registration of event handler execution and streaming functions on PythonKernel.
#include "common/coroutine.hpp"
#include "kernel/bindings.hpp"
#include "kernel/invocation/event_execution.hpp"
#include "kernel/texts.hpp"
#include "kernel/invocation/streaming_function.hpp"

namespace zm::kernel {

void bind_event_streaming(py::module_ &m) {
    using namespace invocation;
    py::object kernel_class = m.attr("PythonKernel");
    py::cpp_function event(&handle_event_execution, py::name("_handle_event_execution"),
                           py::arg("self"), py::arg("message"), texts::doc::HANDLE_EVENT_EXECUTION);
    py::setattr(kernel_class, "_handle_event_execution", mark_coroutine_function(event));
    py::cpp_function stream(
        [](py::object self, py::object request_id, py::object module_name,
           py::object function_name, py::object args, py::object workbook_id, py::object source) {
            check_streaming_args(request_id, module_name, function_name, args, workbook_id,
                                 source);
            return execute_streaming_function(self, request_id, module_name, function_name, args,
                                              workbook_id, source);
        },
        py::name("_execute_streaming_function"), py::arg("self"), py::arg("request_id"),
        py::arg("module_name"), py::arg("function_name"), py::arg("args"),
        py::arg("workbook_id"), py::arg("source"), texts::doc::EXECUTE_STREAMING_FUNCTION);
    py::setattr(kernel_class, "_execute_streaming_function", mark_coroutine_function(stream));
}

} // namespace zm::kernel
