// Registration of the editor requests: PythonKernel._handle_{completion,signature_help,hover,
// diagnostic}_request.
#include "common/args.hpp"
#include "common/coroutine.hpp"
#include "kernel/bindings.hpp"
#include "kernel/editor/editor_requests.hpp"

namespace zm::kernel {

namespace doc {

inline constexpr const char *COMPLETION =
    "Answer a \"completion_request\" with a \"completion_response\": the completions at the "
    "cursor, seen against the workbook's in-memory modules and the editor's unsaved ones.";
inline constexpr const char *SIGNATURE_HELP =
    "Answer a \"signature_help_request\" with a \"signature_help_response\": the signature of the "
    "call around the cursor and the parameter being typed.";
inline constexpr const char *HOVER =
    "Answer a \"hover_request\" with a \"hover_response\": the markdown text for the name under "
    "the cursor, or null.";
inline constexpr const char *DIAGNOSTIC =
    "Answer a \"diagnostic_request\" with a \"diagnostic_response\": the editor markers (syntax "
    "errors, pyflakes findings, unresolved imports) of one module's text.";

} // namespace doc

namespace {

template <editor::Request R>
void add_handler(py::object &kernel_class, const char *name, const char *docstring) {
    py::cpp_function handler(
        [](py::object self, py::object message) {
            check_dict(message, "message");
            return editor::handle_editor_request(std::move(self), std::move(message), R);
        },
        py::name(name), py::arg("self"), py::arg("message"), docstring);
    py::setattr(kernel_class, name, mark_coroutine_function(handler));
}

} // namespace

void bind_editor(py::module_ &m) {
    using editor::Request;
    py::object kernel_class = m.attr("PythonKernel");
    add_handler<Request::Completion>(kernel_class, "_handle_completion_request", doc::COMPLETION);
    add_handler<Request::SignatureHelp>(kernel_class, "_handle_signature_help_request",
                                        doc::SIGNATURE_HELP);
    add_handler<Request::Hover>(kernel_class, "_handle_hover_request", doc::HOVER);
    add_handler<Request::Diagnostic>(kernel_class, "_handle_diagnostic_request", doc::DIAGNOSTIC);
}

} // namespace zm::kernel
