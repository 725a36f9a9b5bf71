#include "kernel/editor/editor_requests.hpp"

#include "common/error_record.hpp"
#include "common/text_format.hpp"
#include "kernel/core/runtime.hpp"
#include "kernel/core/send_path.hpp"
#include "kernel/editor/editor_thread.hpp"
#include "kernel/texts.hpp"

#include <memory>
#include <optional>
#include <string>

namespace zm::kernel::editor {

namespace {

using core::text_of;

/// The request types, in the order of `Request`.
constexpr const char *REQUEST_TYPES[] = {"completion_request", "signature_help_request",
                                         "hover_request", "diagnostic_request"};

/// What distinguishes the three cursor requests.
struct CursorRequest {
    const char *method;     ///< the CodeInsight method
    const char *reply_type; ///< the reply's `type`
};

const CursorRequest &cursor_request(Request request) {
    static const CursorRequest completion{"get_completions", "completion_response"};
    static const CursorRequest signature{"get_signature_help", "signature_help_response"};
    static const CursorRequest hover{"get_hover", "hover_response"};
    switch (request) {
    case Request::Completion:
        return completion;
    case Request::SignatureHelp:
        return signature;
    default:
        return hover;
    }
}

py::object get(py::handle message, const char *key, py::handle fallback) {
    return core::dict_get(message, key, fallback);
}

/// The length of `value` for the log lines: a text's characters, another sized value's size.
std::string length_text(py::handle value) {
    Py_ssize_t size = PyObject_Size(value.ptr());
    if (size < 0) {
        PyErr_Clear();
        return "None";
    }
    return std::to_string(size);
}

std::string too_large(zm::Template<Py_ssize_t, std::size_t> what, Py_ssize_t size) {
    return zm::format(what, size, MAX_ANALYSED_CHARS);
}

/// Why `code` cannot be analysed on the listener, if it cannot.
std::optional<std::string> oversized_code(py::handle code) {
    if (PyUnicode_Check(code.ptr()) &&
        static_cast<std::size_t>(PyUnicode_GET_LENGTH(code.ptr())) > MAX_ANALYSED_CHARS)
        return too_large(texts::CODE_TOO_LARGE, PyUnicode_GET_LENGTH(code.ptr()));
    return std::nullopt;
}

/// Why `dirty_files` cannot be handed to the analysis, if it cannot.
std::optional<std::string> bad_dirty_files(py::handle dirty_files) {
    if (dirty_files.is_none())
        return std::nullopt;
    if (!PyDict_Check(dirty_files.ptr()))
        return std::string(texts::DIRTY_FILES_NOT_MAP);
    PyObject *key = nullptr;
    PyObject *value = nullptr;
    Py_ssize_t pos = 0;
    while (PyDict_Next(dirty_files.ptr(), &pos, &key, &value)) {
        if (PyUnicode_Check(value) &&
            static_cast<std::size_t>(PyUnicode_GET_LENGTH(value)) > MAX_ANALYSED_CHARS)
            return too_large(texts::DIRTY_FILE_TOO_LARGE, PyUnicode_GET_LENGTH(value));
    }
    return std::nullopt;
}

/// A copy of the in-memory loader's sources, taken now (a later module update cannot change it).
py::dict module_sources() {
    py::object loader = core::module_attr("in_memory_loader");
    if (loader.is_none())
        return py::dict();
    py::object cache = py::getattr(loader, "source_cache", py::none());
    if (!PyDict_Check(cache.ptr()))
        return py::dict();
    return py::reinterpret_steal<py::dict>(PyDict_Copy(cache.ptr()));
}

/// The analysis result as a dict (an answer of another shape counts as an empty one).
py::dict as_result(py::object result) {
    if (PyDict_Check(result.ptr()))
        return py::reinterpret_borrow<py::dict>(result);
    return py::dict();
}

/// reply[key] of a reply being built.
py::object at(const py::dict &reply, const char *key) { return get(reply, key, py::none()); }

py::object entry(const py::dict &result, const char *key, py::object fallback) {
    return get(result, key, fallback);
}

/// The reply with the analysis entries of `request` taken from `result` (defaults when absent),
/// then the echoed request fields.
py::dict build_reply(Request request, const py::dict &result, py::handle request_id,
                     py::handle workbook_id, py::handle module_name) {
    py::dict reply;
    switch (request) {
    case Request::Completion:
        reply["type"] = "completion_response";
        reply["completions"] = entry(result, "completions", py::list());
        break;
    case Request::SignatureHelp:
        reply["type"] = "signature_help_response";
        reply["signatures"] = entry(result, "signatures", py::list());
        reply["activeSignature"] = entry(result, "activeSignature", py::int_(0));
        reply["activeParameter"] = entry(result, "activeParameter", py::int_(0));
        break;
    case Request::Hover:
        reply["type"] = "hover_response";
        reply["contents"] = entry(result, "contents", py::none());
        break;
    case Request::Diagnostic:
        reply["type"] = "diagnostic_response";
        reply["diagnostics"] = entry(result, "diagnostics", py::list());
        break;
    }
    reply["error"] = entry(result, "error", py::none());
    reply["request_id"] = request_id;
    reply["workbook_id"] = workbook_id;
    reply["module_name"] = module_name;
    return reply;
}

/// The result of a request refused before the analysis: only `error`, the rest defaults.
py::dict refusal(Request request, const std::string &problem) {
    core::log().warning(
        zm::format(texts::REFUSED, REQUEST_TYPES[static_cast<int>(request)], problem));
    py::dict result;
    result["error"] = py::str(problem);
    return result;
}

py::object code_insight(py::handle self) { return py::getattr(self, "_code_insight", py::none()); }

/// A copy of the in-memory loader's sources fit for analysis: a module too large to analyse
/// still loads and runs, but the editor does not see it.
py::dict analysable_sources() {
    py::dict modules = module_sources();
    py::list names(modules);
    for (py::handle name : names) {
        PyObject *source = PyDict_GetItem(modules.ptr(), name.ptr()); // borrowed
        if (source != nullptr && PyUnicode_Check(source) &&
            static_cast<std::size_t>(PyUnicode_GET_LENGTH(source)) > MAX_ANALYSED_CHARS) {
            const Logger &logger = core::log();
            if (logger.debug_enabled())
                logger.debug(
                    zm::format(texts::MODULE_NOT_ANALYSED, text_of(name),
                               too_large(texts::MODULE_TOO_LARGE, PyUnicode_GET_LENGTH(source))));
            PyDict_DelItem(modules.ptr(), name.ptr());
        }
    }
    return modules;
}

/// What the listener reads and checks of one request; the editor thread answers it.
struct Prepared {
    Request request;
    py::object insight;
    py::object request_id, code, line, column, path, workbook_id, module_name, dirty_files;
    py::dict modules;
    std::optional<std::string> problem;
};

/// The debug line of a cursor request.
std::string request_line(const Prepared &p) {
    const std::string line = text_of(p.line);
    const std::string column = text_of(p.column);
    const std::string path = text_of(p.path);
    const std::string length = length_text(p.code);
    switch (p.request) {
    case Request::Completion: {
        const Py_ssize_t count =
            PyDict_Check(p.dirty_files.ptr()) ? PyDict_GET_SIZE(p.dirty_files.ptr()) : 0;
        return zm::format(texts::COMPLETION_REQUEST, line, column, path, length, count);
    }
    case Request::SignatureHelp:
        return zm::format(texts::SIGNATURE_REQUEST, line, column, path, length);
    default:
        return zm::format(texts::HOVER_REQUEST, line, column, path, length);
    }
}

std::shared_ptr<Prepared> prepare_cursor(py::handle self, py::handle message, Request request) {
    auto p = std::make_shared<Prepared>();
    p->request = request;
    p->request_id = get(message, "request_id", py::none());
    p->code = get(message, "code", py::str(""));
    p->line = get(message, "line", py::int_(1));
    p->column = get(message, "column", py::int_(0));
    p->path = get(message, "path", py::none());
    p->workbook_id = get(message, "workbook_id", py::none());
    p->module_name = get(message, "module_name", py::none());
    p->dirty_files = get(message, "dirty_files", py::none());

    const Logger &logger = core::log();
    if (logger.debug_enabled())
        logger.debug(request_line(*p));

    p->insight = code_insight(self);
    if (p->insight.is_none())
        p->problem = texts::NO_CODE_INSIGHT;
    else if (!(p->problem = oversized_code(p->code)))
        p->problem = bad_dirty_files(p->dirty_files);
    if (!p->problem)
        p->modules = analysable_sources();
    return p;
}

std::shared_ptr<Prepared> prepare_diagnostic(py::handle self, py::handle message) {
    auto p = std::make_shared<Prepared>();
    p->request = Request::Diagnostic;
    p->request_id = get(message, "request_id", py::none());
    p->code = get(message, "code", py::str(""));
    p->workbook_id = get(message, "workbook_id", py::none());
    p->module_name = get(message, "module_name", py::none());

    const Logger &logger = core::log();
    if (logger.debug_enabled())
        logger.debug(
            zm::format(texts::DIAGNOSTIC_REQUEST, length_text(p->code), text_of(p->module_name)));

    p->insight = code_insight(self);
    if (p->insight.is_none())
        p->problem = texts::NO_CODE_INSIGHT;
    else if (!p->module_name.is_none() && !PyUnicode_Check(p->module_name.ptr()))
        p->problem = texts::MODULE_NAME_NOT_TEXT;
    else
        p->problem = oversized_code(p->code);
    return p;
}

/// The analysis of a prepared request; an exception of the analysis is its `error`.
py::dict analyse(const Prepared &p) {
    if (p.problem)
        return refusal(p.request, *p.problem);
    std::optional<std::string> failure;
    try {
        if (p.request == Request::Diagnostic)
            return as_result(p.insight.attr("get_diagnostics")(
                py::arg("code") = p.code, py::arg("module_name") = p.module_name));
        return as_result(p.insight.attr(cursor_request(p.request).method)(
            py::arg("code") = p.code, py::arg("line") = p.line, py::arg("column") = p.column,
            py::arg("path") = p.path, py::arg("modules") = p.modules,
            py::arg("dirty_files") = p.dirty_files));
    } catch (py::error_already_set &e) {
        if (!e.matches(PyExc_Exception))
            throw;
        failure = zm::format(texts::PROBLEM_OF, Py_TYPE(e.value().ptr())->tp_name,
                             text_of(exception_text(e.value())));
    }
    core::log().error(
        zm::format(texts::ANALYSIS_FAILED, REQUEST_TYPES[static_cast<int>(p.request)], *failure));
    py::dict result;
    result["error"] = py::str(*failure);
    return result;
}

/// Runs on the editor thread: the reply to a prepared request, with its response log line.
py::dict answer(const Prepared &p) {
    py::dict reply = build_reply(p.request, analyse(p), p.request_id, p.workbook_id, p.module_name);
    const Logger &logger = core::log();
    if (!logger.debug_enabled())
        return reply;
    const std::string error = text_of(at(reply, "error"));
    switch (p.request) {
    case Request::Completion:
        logger.debug(
            zm::format(texts::COMPLETION_RESPONSE, length_text(at(reply, "completions")), error));
        break;
    case Request::SignatureHelp:
        logger.debug(
            zm::format(texts::SIGNATURE_RESPONSE, length_text(at(reply, "signatures")), error));
        break;
    case Request::Hover:
        logger.debug(zm::format(texts::HOVER_RESPONSE,
                                at(reply, "contents").is_none() ? "False" : "True", error));
        break;
    case Request::Diagnostic:
        logger.debug(
            zm::format(texts::DIAGNOSTIC_RESPONSE, length_text(at(reply, "diagnostics")), error));
        break;
    }
    return reply;
}

} // namespace

Coro handle_editor_request(py::object self, py::object message, Request request) {
    std::shared_ptr<Prepared> prepared = request == Request::Diagnostic
                                             ? prepare_diagnostic(self, message)
                                             : prepare_cursor(self, message, request);
    submit_editor_job(self,
                      py::cpp_function([prepared]() -> py::object { return answer(*prepared); }));
    co_return py::none();
}

} // namespace zm::kernel::editor
