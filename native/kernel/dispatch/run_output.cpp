#include "kernel/dispatch/run_output.hpp"

#include "kernel/core/runtime.hpp"
#include "kernel/core/send_path.hpp"
#include "kernel/dispatch/dispatch_runtime.hpp"
#include "kernel/dispatch/texts.hpp"

#include <string>

namespace zm::kernel::dispatch {

py::object make_output_callback(py::object kernel, py::object loop, const char *stream,
                                py::object request_id, py::object workbook_id, py::object source) {
    py::str stream_type(stream);
    py::object send = kernel.attr("send_message");
    return py::cpp_function([stream_type, workbook_id, send, loop, request_id,
                             source](py::object piece) {
        try {
            py::dict message;
            message["type"] = stream_type;
            message["content"] = piece;
            message["request_id"] = request_id;
            message["workbook_id"] = workbook_id;
            message["source"] = source;
            dispatch_runtime().run_coroutine_threadsafe(send(message), loop);
        } catch (py::error_already_set &e) {
            if (!e.matches(PyExc_Exception))
                throw;
            const Logger &logger = core::log();
            if (logger.debug_enabled())
                logger.debug(std::string(text::KERNEL_PREFIX) + core::text_of(stream_type) +
                             text::STREAMING_ERROR + core::text_of(e.value()));
        }
    });
}

} // namespace zm::kernel::dispatch
