// Completions: CodeInsight::get_completions.
#include "code_insight/analysis/detail_cache.hpp"
#include "code_insight/core/code_insight.hpp"
#include "code_insight/core/guard.hpp"
#include "code_insight/core/libraries.hpp"
#include "code_insight/core/text_scan.hpp"
#include "code_insight/texts.hpp"
#include "common/args.hpp"
#include "common/text_format.hpp"

namespace zm::code_insight::core {

namespace {

using namespace pybind11::literals;
using analysis::LibraryName;
using analysis::Sources;
using analysis::StampMemo;

bool starts_with_underscore(const py::handle &text) {
    return PyUnicode_Check(text.ptr()) && PyUnicode_GET_LENGTH(text.ptr()) > 0 &&
           PyUnicode_READ_CHAR(text.ptr(), 0) == '_';
}

py::object kind_of(const py::handle &type) {
    PyObject *kind = PyDict_GetItemWithError(libs().kind_map.ptr(), type.ptr());
    if (kind == nullptr) {
        if (PyErr_Occurred())
            throw py::error_already_set();
        return py::int_(4);
    }
    return py::reinterpret_borrow<py::object>(kind);
}

void log_request(const py::object &code, const py::object &line, const py::object &column,
                 const py::object &path) {
    // Text that is not a str has no length worth reporting; the request answers it with an error.
    py::object length = py::none(), preview = py::none();
    if (PyUnicode_Check(code.ptr())) {
        length = py::int_(PyUnicode_GET_LENGTH(code.ptr()));
        PyObject *head = PyUnicode_Substring(code.ptr(), 0, 100);
        if (head == nullptr)
            throw py::error_already_set();
        preview = py::reinterpret_steal<py::object>(head);
    }
    py::dict summary("line"_a = line, "column"_a = column, "path"_a = path,
                     "code_length"_a = length, "code_preview"_a = preview);
    log().debug(zm::format(texts::COMPLETIONS_REQUEST, as_text(summary)));
}

} // namespace

std::optional<LibraryName> CodeInsight::library_name(const py::handle &completion,
                                                     const py::object &name,
                                                     StampMemo &memo) const {
    // The namespace the name was found in, as jedi holds it: asking the public API (the name's
    // module path, its parent) resolves every import of the namespace and costs more than the
    // details themselves.
    // Names of imported modules (jedi's ImportName) cost nothing to describe, and finding their
    // context would resolve the import: they are described afresh.
    py::object jedi_name = attr(completion, "_name");
    if (py::hasattr(jedi_name, "_from_module_context"))
        return std::nullopt;
    py::object context = attr(jedi_name, "parent_context");
    if (context.is_none() || !truthy(context.attr("is_module")()))
        return std::nullopt;
    py::object file = context.attr("py__file__")();
    if (file.is_none())
        return std::nullopt;
    const std::string path = fs_bytes(py::str(file));
    if (is_workbook_file(path))
        return std::nullopt;
    // The key names the file, the name and jedi's docstring mode (a typed prefix of three or more
    // characters makes jedi resolve import names fully). The name's kind is remembered with the
    // details: inferring it is most of what a warm request would otherwise cost.
    LibraryName found;
    if (!found.sources.add(path, memo))
        return std::nullopt;
    // A file added to or removed from the package changes its directory.
    const std::size_t slash = path.rfind('/');
    if (slash != std::string::npos && slash > 0 && !found.sources.add(path.substr(0, slash), memo))
        return std::nullopt;
    const bool resolved =
        PyLong_AsLong(completion.attr("get_completion_prefix_length")().ptr()) >= 3;
    if (PyErr_Occurred())
        throw py::error_already_set();
    found.key = path + '\0' + zm::utf8(name) + (resolved ? "\0r" : "\0f");
    return found;
}

bool CodeInsight::is_workbook_file(const std::string &path) const {
    if (path.empty() || path.front() != '/')
        return true; // the editor's own text ("<editor>") and anything that is not a file path
    if (!temp_dir_.is_none() && analysis::path_within(path, fs_bytes(temp_dir_name())))
        return true;
    return PyUnicode_Check(workspace_path_.ptr()) &&
           PyUnicode_GET_LENGTH(workspace_path_.ptr()) > 0 &&
           analysis::path_within(path, fs_bytes(workspace_path_));
}

bool CodeInsight::add_definition_files(const py::handle &completion, Sources &sources,
                                       StampMemo &memo) const {
    for (py::handle definition : completion.attr("infer")()) {
        py::object file = attr(definition, "module_path");
        if (file.is_none())
            continue;
        const std::string path = fs_bytes(py::str(file));
        if (is_workbook_file(path) || !sources.add(path, memo))
            return false;
    }
    return true;
}

py::dict CodeInsight::get_completions(py::object code, py::object line, py::object column,
                                      py::object path, py::object modules, py::object dirty_files) {
    const zm::Logger &logger = log();
    const bool debug = logger.debug_enabled();
    if (debug)
        log_request(code, line, column, path);
    py::list items;
    Caught caught = guarded([&] {
        validate_position(code, line, column);
        py::object before = text_before_cursor(code, line, column);
        if (!before.is_none() && !libs().alias_pattern.attr("match")(before).is_none()) {
            if (debug)
                logger.debug(texts::IN_ALIAS_CONTEXT);
            return;
        }
        sync_if_given(modules, dirty_files);
        const bool offer_private = starts_with_underscore(get_word_prefix(code, line, column));
        py::object script = make_script(code, path);
        py::object completions =
            script.attr("complete")(py::arg("line") = line, py::arg("column") = column);
        if (debug)
            logger.debug(zm::format(texts::JEDI_RETURNED, py::len(completions)));
        StampMemo memo;
        for (py::handle completion : completions) {
            py::object name = attr(completion, "name");
            if (!offer_private && starts_with_underscore(name))
                continue;
            std::optional<LibraryName> library;
            guarded([&] { library = library_name(completion, name, memo); });
            const CompletionDetail *known = library ? details_.find(library->key, memo) : nullptr;
            CompletionDetail computed;
            if (known == nullptr) {
                computed.type = attr(completion, "type");
                if (equals(computed.type, "function")) {
                    guarded([&] {
                        py::object signatures = completion.attr("get_signatures")();
                        if (truthy(signatures))
                            computed.detail = format_signature(signatures[py::int_(0)]);
                    });
                }
                guarded([&] {
                    py::object doc = completion.attr("docstring")();
                    if (truthy(doc))
                        computed.documentation = doc;
                });
            }
            const CompletionDetail &shown = known != nullptr ? *known : computed;
            py::dict item("label"_a = name, "kind"_a = kind_of(shown.type), "insertText"_a = name);
            if (!shown.detail.is_none())
                item["detail"] = shown.detail;
            if (!shown.documentation.is_none())
                item["documentation"] = shown.documentation;
            items.append(item);
            if (known != nullptr)
                continue;
            if (library) {
                bool complete = false;
                guarded(
                    [&] { complete = add_definition_files(completion, library->sources, memo); });
                if (complete)
                    details_.store(std::move(library->key), std::move(library->sources),
                                   std::move(computed));
            }
        }
        if (debug) {
            const std::size_t count = py::len(items);
            logger.debug(zm::format(texts::COMPLETIONS_RETURNED, count));
            if (count > 0) {
                py::list sample;
                for (std::size_t i = 0; i < count && i < 5; ++i)
                    sample.append(items[i]["label"]);
                logger.debug(count > 5 ? zm::format(texts::MORE_SAMPLE_COMPLETIONS, as_text(sample))
                                       : zm::format(texts::SAMPLE_COMPLETIONS, as_text(sample)));
            }
        }
    });
    return answer("completions", items, caught, texts::COMPLETIONS_FAILED, py::list());
}

} // namespace zm::code_insight::core
