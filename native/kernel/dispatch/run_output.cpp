#include "kernel/dispatch/run_output.hpp"

#include "common/text_format.hpp"

#include "kernel/core/output_queue.hpp"
#include "kernel/core/runtime.hpp"
#include "kernel/core/send_path.hpp"
#include "kernel/texts.hpp"

#include <memory>
#include <string>

namespace zm::kernel::dispatch {

py::object make_output_callback(py::object kernel, py::object loop, const char *stream,
                                py::object request_id, py::object workbook_id, py::object source) {
    auto head = std::make_shared<core::OutputHead>();
    head->type = py::str(stream);
    head->request_id = std::move(request_id);
    head->workbook_id = std::move(workbook_id);
    head->source = std::move(source);
    std::shared_ptr<core::OutputQueue> queue = core::output_queue_of(kernel);
    return py::cpp_function([head = std::shared_ptr<const core::OutputHead>(head), queue, kernel,
                             loop](py::object piece) {
        try {
            if (queue)
                queue->put(kernel, loop, head, std::move(piece));
        } catch (py::error_already_set &e) {
            if (!e.matches(PyExc_Exception))
                throw;
            const Logger &logger = core::log();
            if (logger.debug_enabled())
                logger.debug(zm::format(texts::STREAMING_ERROR, core::text_of(head->type),
                                        core::text_of(e.value())));
        }
    });
}

} // namespace zm::kernel::dispatch
