#include "kernel/channel/stream_sender.hpp"

#include "common/text_format.hpp"
#include "kernel/channel/loop_submission.hpp"
#include "kernel/core/output_queue.hpp"
#include "kernel/core/runtime.hpp"
#include "kernel/core/send_path.hpp"
#include "kernel/texts.hpp"

#include <memory>
#include <string>

namespace zm::kernel::channel {

namespace {

/// The head of process-wide output of one stream (no request, no source).
std::shared_ptr<const core::OutputHead> stream_head(py::handle kernel, py::handle stream_type) {
    auto head = std::make_shared<core::OutputHead>();
    head->type = py::reinterpret_borrow<py::object>(stream_type);
    head->workbook_id = kernel.attr("workbook_id");
    return head;
}

/// Queues one piece; `head` is the hook's own when it has one (pieces of one stream merge).
void queue_stream_piece(py::handle kernel, std::shared_ptr<const core::OutputHead> head,
                        py::handle stream_type, py::handle content) {
    try {
        std::shared_ptr<core::OutputQueue> queue = core::output_queue_of(kernel);
        if (!queue)
            return;
        if (!head)
            head = stream_head(kernel, stream_type);
        queue->put(kernel, kernel.attr("_loop"), head, py::reinterpret_borrow<py::object>(content));
    } catch (py::error_already_set &e) {
        if (!e.matches(PyExc_Exception))
            throw;
        const Logger &logger = core::log();
        if (logger.debug_enabled())
            logger.debug(zm::format(texts::STREAMING_ERROR, core::text_of(stream_type),
                                    core::text_of(e.value())));
    }
}

} // namespace

void send_stream_message(py::handle kernel, py::handle stream_type, py::handle content) {
    queue_stream_piece(kernel, nullptr, stream_type, content);
}

void install_streams(py::object kernel) {
    py::str out("stdout"), err("stderr");
    std::shared_ptr<const core::OutputHead> out_head = stream_head(kernel, out);
    std::shared_ptr<const core::OutputHead> err_head = stream_head(kernel, err);
    // Holds the kernel, which lives as long as the process.
    py::cpp_function sender(
        [kernel, out_head, err_head](py::object stream_type, py::object content) {
            std::shared_ptr<const core::OutputHead> head;
            if (PyUnicode_Check(stream_type.ptr()))
                head = stream_type.equal(out_head->type)   ? out_head
                       : stream_type.equal(err_head->type) ? err_head
                                                           : nullptr;
            queue_stream_piece(kernel, head, stream_type, content);
        },
        py::name("send_stream_message"), py::arg("stream_type"), py::arg("content"),
        texts::doc::SEND_STREAM_MESSAGE);
    py::object hook_class = core::runtime().module.attr("KernelStreamHook");
    py::module_ sys = py::module_::import("sys");
    sys.attr("stdout") = hook_class(out, sender);
    sys.attr("stderr") = hook_class(err, sender);
}

} // namespace zm::kernel::channel
