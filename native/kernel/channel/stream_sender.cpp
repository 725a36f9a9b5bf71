#include "kernel/channel/stream_sender.hpp"

#include "kernel/channel/loop_submission.hpp"
#include "kernel/channel/texts.hpp"
#include "kernel/core/runtime.hpp"
#include "kernel/core/send_path.hpp"

#include <string>

namespace zm::kernel::channel {

void send_stream_message(py::handle kernel, py::handle stream_type, py::handle content) {
    try {
        py::dict message;
        message["type"] = stream_type;
        message["content"] = content;
        message["workbook_id"] = kernel.attr("workbook_id");
        submit_message(kernel, message);
    } catch (py::error_already_set &e) {
        if (!e.matches(PyExc_Exception))
            throw;
        const Logger &logger = core::log();
        if (logger.debug_enabled())
            logger.debug(std::string(text::KERNEL_PREFIX) + core::text_of(stream_type) +
                         text::STREAMING_ERROR + core::text_of(e.value()));
    }
}

void install_streams(py::object kernel) {
    // Holds the kernel, which lives as long as the process.
    py::cpp_function sender(
        [kernel](py::object stream_type, py::object content) {
            send_stream_message(kernel, stream_type, content);
        },
        py::name("send_stream_message"), py::arg("stream_type"), py::arg("content"),
        doc::SEND_STREAM_MESSAGE);
    py::object hook_class = core::runtime().module.attr("KernelStreamHook");
    py::module_ sys = py::module_::import("sys");
    sys.attr("stdout") = hook_class(py::str("stdout"), sender);
    sys.attr("stderr") = hook_class(py::str("stderr"), sender);
}

} // namespace zm::kernel::channel
