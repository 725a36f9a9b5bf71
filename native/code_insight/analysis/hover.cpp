// Hover text and signature help: CodeInsight::get_hover, get_signature_help and the formatting
// helpers shared with completions.
#include "code_insight/core/code_insight.hpp"
#include "code_insight/core/guard.hpp"
#include "code_insight/core/libraries.hpp"
#include "code_insight/texts.hpp"
#include "common/args.hpp"
#include "common/exact_text.hpp"
#include "common/text_format.hpp"

namespace zm::code_insight::core {

namespace {

using namespace pybind11::literals;

/// One hover block: `tmpl` filled with the texts of `pieces` (TypeError for a piece that is not
/// a str, as joining it would raise).
template <class... Pieces>
py::str block(zm::Template<std::type_identity_t<Pieces>...> tmpl, const Pieces &...pieces) {
    return zm::exact_str(zm::format(tmpl, pieces...));
}

/// The markdown map of `text`, or None when the text is empty.
py::object markdown(const py::object &text) {
    if (text.is_none() || !truthy(text))
        return py::none();
    return py::dict("kind"_a = "markdown", "value"_a = text);
}

py::object join_parts(const py::list &parts) {
    if (py::len(parts) == 0)
        return py::none();
    return py::str(texts::HOVER_RULE).attr("join")(parts);
}

/// Appends the object's docstring when it has a non-empty one; a failing lookup adds nothing.
void append_docstring(py::list &parts, const py::handle &obj) {
    guarded([&] {
        py::object doc = obj.attr("docstring")();
        if (truthy(doc))
            parts.append(doc);
    });
}

py::dict signature_help(py::list signatures, py::object active_parameter, py::object error) {
    return py::dict("signatures"_a = signatures, "activeSignature"_a = 0,
                    "activeParameter"_a = active_parameter, "error"_a = error);
}

/// The block of a function: `with_signature` holding its name and parameter part, or `plain`
/// with the name alone when it has no signature or the signature cannot be read.
py::str function_block(const py::handle &definition, const std::string &name,
                       zm::Template<std::string, std::string> with_signature,
                       zm::Template<std::string> plain, const CodeInsight &insight) {
    py::str result;
    Caught failed = guarded([&] {
        py::object signatures = definition.attr("get_signatures")();
        result = truthy(signatures)
                     ? block(with_signature, name,
                             str_text(insight.format_signature(signatures[py::int_(0)])))
                     : block(plain, name);
    });
    return failed ? block(plain, name) : result;
}

} // namespace

py::object CodeInsight::position_script(const py::object &code, const py::object &line,
                                        const py::object &column, const py::object &path,
                                        const py::object &modules, const py::object &dirty_files) {
    validate_position(code, line, column);
    sync_if_given(modules, dirty_files);
    return make_script(code, path);
}

py::str CodeInsight::format_signature(py::object signature) const {
    const std::initializer_list<PyObject *> expected = {PyExc_AttributeError, PyExc_TypeError};
    py::str result;
    Caught first = guarded(
        [&] {
            py::object text = signature.attr("to_string")();
            if (!PyUnicode_Check(text.ptr()))
                throw py::type_error(
                    zm::format(texts::TO_STRING_NOT_TEXT, Py_TYPE(text.ptr())->tp_name));
            const Py_ssize_t open =
                PyUnicode_FindChar(text.ptr(), '(', 0, PyUnicode_GET_LENGTH(text.ptr()), 1);
            if (open == -2)
                throw py::error_already_set();
            result = open < 0 ? py::str(text)
                              : py::reinterpret_steal<py::str>(PyUnicode_Substring(
                                    text.ptr(), open, PyUnicode_GET_LENGTH(text.ptr())));
        },
        expected);
    if (!first)
        return result;
    Caught second = guarded(
        [&] {
            py::list pieces;
            for (py::handle param : signature.attr("params"))
                pieces.append(param.attr("to_string")());
            result = block(texts::PARAMETER_LIST, str_text(py::str(", ").attr("join")(pieces)));
        },
        expected);
    return second ? py::str("") : result;
}

py::object CodeInsight::get_type_description(py::object definition,
                                             py::object fallback_type) const {
    PyObject *description = PyObject_GetAttrString(definition.ptr(), "description");
    if (description == nullptr) {
        if (!PyErr_ExceptionMatches(PyExc_AttributeError))
            throw py::error_already_set();
        PyErr_Clear();
        return fallback_type;
    }
    py::object value = py::reinterpret_steal<py::object>(description);
    return truthy(value) ? value : fallback_type;
}

py::object CodeInsight::format_compact_hover(py::object definition) const {
    py::object result = py::none();
    Caught caught = guarded([&] {
        py::object name = or_else(attr(definition, "name"), py::str(""));
        py::object kind = attr(definition, "type");
        if (equals(kind, "function")) {
            result = function_block(definition, str_text(name), texts::COMPACT_FUNCTION_SIGNATURE,
                                    texts::COMPACT_FUNCTION, *this);
        } else if (equals(kind, "class")) {
            result = block(texts::COMPACT_CLASS, str_text(name));
        } else if (equals(kind, "module")) {
            result = block(texts::COMPACT_MODULE, str_text(name));
        } else {
            const std::string kind_text = str_text(kind);
            const std::string name_text = str_text(name);
            result = block(texts::COMPACT_OTHER, kind_text, name_text,
                           str_text(get_type_description(definition, kind)));
        }
    });
    if (caught) {
        const zm::Logger &logger = log();
        if (logger.debug_enabled())
            logger.debug(zm::format(texts::COMPACT_HOVER_FAILED, zm::utf8(caught.text)));
        return py::none();
    }
    return result;
}

py::dict CodeInsight::get_hover(py::object code, py::object line, py::object column,
                                py::object path, py::object modules, py::object dirty_files) {
    const zm::Logger &logger = log();
    const bool debug = logger.debug_enabled();
    if (debug)
        logger.debug(zm::format(texts::HOVER_REQUEST, as_int_text(line), as_int_text(column),
                                as_text(path)));
    py::object contents = py::none();
    Caught caught = guarded([&] {
        py::object script = position_script(code, line, column, path, modules, dirty_files);
        py::object definitions =
            script.attr("infer")(py::arg("line") = line, py::arg("column") = column);
        if (truthy(definitions)) {
            const bool compact = equals(hover_mode_, "compact");
            py::list parts;
            for (py::handle definition : definitions) {
                py::object d = py::reinterpret_borrow<py::object>(definition);
                if (compact) {
                    py::object part = format_compact_hover(d);
                    if (!part.is_none() && truthy(part))
                        parts.append(part);
                    continue;
                }
                py::object name = or_else(attr(d, "full_name"), attr(d, "name"));
                py::object kind = attr(d, "type");
                if (equals(kind, "function")) {
                    parts.append(function_block(d, str_text(name), texts::HOVER_SIGNATURE,
                                                texts::HOVER_NAME, *this));
                } else if (equals(kind, "class")) {
                    parts.append(block(texts::DETAILED_CLASS, str_text(name)));
                } else if (equals(kind, "module")) {
                    parts.append(block(texts::DETAILED_MODULE, str_text(name)));
                } else {
                    const std::string name_text = str_text(name);
                    parts.append(block(texts::HOVER_TYPED, name_text,
                                       str_text(get_type_description(d, kind))));
                }
                append_docstring(parts, d);
            }
            if (debug)
                logger.debug(zm::format(texts::HOVER_FOUND, py::len(definitions)));
            contents = markdown(join_parts(parts));
            return;
        }
        if (debug)
            logger.debug(texts::INFER_EMPTY);
        Caught help_failed = guarded([&] {
            py::object results =
                script.attr("help")(py::arg("line") = line, py::arg("column") = column);
            py::list parts;
            if (truthy(results)) {
                for (py::handle result : results) {
                    py::object name = or_else(attr(result, "name"), py::str(""));
                    py::object description = py::hasattr(result, "description")
                                                 ? attr(result, "description")
                                                 : py::object(py::str(""));
                    if (truthy(name) && truthy(description)) {
                        const std::string description_text = str_text(description);
                        parts.append(
                            block(texts::HOVER_DESCRIBED, description_text, str_text(name)));
                    } else if (truthy(name)) {
                        parts.append(block(texts::HOVER_NAME, str_text(name)));
                    }
                    append_docstring(parts, result);
                }
            }
            if (py::len(parts) > 0) {
                if (debug)
                    logger.debug(zm::format(texts::HELP_FOUND, py::len(results)));
                contents = markdown(join_parts(parts));
            }
        });
        if (help_failed && debug)
            logger.debug(zm::format(texts::HELP_FAILED, zm::utf8(help_failed.text)));
        if (contents.is_none() && debug)
            logger.debug(texts::HOVER_NOTHING);
    });
    return answer("contents", contents, caught, texts::HOVER_FAILED, py::none());
}

py::dict CodeInsight::get_signature_help(py::object code, py::object line, py::object column,
                                         py::object path, py::object modules,
                                         py::object dirty_files) {
    const zm::Logger &logger = log();
    const bool debug = logger.debug_enabled();
    if (debug)
        logger.debug(zm::format(texts::SIGNATURE_REQUEST, as_int_text(line), as_int_text(column),
                                as_text(path)));
    const std::initializer_list<PyObject *> lookup_errors = {PyExc_AttributeError, PyExc_TypeError};
    py::dict response;
    Caught caught = guarded([&] {
        py::object script = position_script(code, line, column, path, modules, dirty_files);
        py::object signatures =
            script.attr("get_signatures")(py::arg("line") = line, py::arg("column") = column);
        if (!truthy(signatures)) {
            if (debug)
                logger.debug(texts::NO_SIGNATURES);
            response = signature_help(py::list(), py::int_(0), py::none());
            return;
        }
        py::object sig = signatures[py::int_(0)];
        py::list parameters;
        for (py::handle param : sig.attr("params")) {
            py::dict entry("label"_a = attr(param, "name"));
            guarded(
                [&] {
                    py::object description = attr(param, "description");
                    if (truthy(description))
                        entry["documentation"] = description;
                },
                lookup_errors);
            parameters.append(entry);
        }
        py::str parameter_part = format_signature(sig);
        py::object documentation = py::str("");
        guarded(
            [&] {
                py::object doc = sig.attr("docstring")(py::arg("raw") = true);
                if (truthy(doc))
                    documentation = doc;
            },
            lookup_errors);
        py::object name = attr(sig, "name");
        const std::string name_text = str_text(or_else(name, py::str(texts::UNNAMED_FUNCTION)));
        py::str label = block(texts::SIGNATURE_LABEL, name_text, str_text(parameter_part));
        py::object index = attr(sig, "index");
        py::object active = index.is_none() ? py::object(py::int_(0)) : index;
        if (debug)
            logger.debug(zm::format(texts::SIGNATURE_HELP, as_text(name), as_int_text(active)));
        py::list list;
        list.append(py::dict("label"_a = label, "documentation"_a = documentation,
                             "parameters"_a = parameters));
        response = signature_help(list, active, py::none());
    });
    if (caught) {
        logger.error(zm::format(texts::SIGNATURE_FAILED, zm::utf8(caught.text)));
        return signature_help(py::list(), py::int_(0), caught.text);
    }
    return response;
}

} // namespace zm::code_insight::core
