// Hover text and signature help: CodeInsight::get_hover, get_signature_help and the formatting
// helpers shared with completions.
#include "code_insight/core/code_insight.hpp"
#include "code_insight/core/guard.hpp"
#include "code_insight/core/libraries.hpp"
#include "code_insight/core/text_scan.hpp"
#include "code_insight/core/texts.hpp"
#include "common/args.hpp"

namespace code_insight {

namespace {

/// The pieces joined into one text; a piece that is not text raises TypeError, as `+` would.
py::str concat(std::initializer_list<py::object> pieces) {
    py::list list;
    for (const py::object &piece : pieces)
        list.append(piece);
    PyObject *joined = PyUnicode_Join(py::str("").ptr(), list.ptr());
    if (joined == nullptr)
        throw py::error_already_set();
    return py::reinterpret_steal<py::str>(joined);
}

py::str fence(const py::object &content) {
    return concat({py::str(texts::FENCE_OPEN), content, py::str(texts::FENCE_CLOSE)});
}

/// The markdown map of `text`, or None when the text is empty.
py::object markdown(const py::object &text) {
    if (text.is_none() || !truthy(text))
        return py::none();
    py::dict contents;
    contents["kind"] = "markdown";
    contents["value"] = text;
    return contents;
}

py::object join_parts(const py::list &parts) {
    if (py::len(parts) == 0)
        return py::none();
    return py::str(texts::RULE).attr("join")(parts);
}

/// Appends the object's docstring when it has a non-empty one; a failing lookup adds nothing.
void append_docstring(py::list &parts, const py::handle &obj) {
    guarded([&] {
        py::object doc = obj.attr("docstring")();
        if (truthy(doc))
            parts.append(doc);
    });
}

py::dict empty_signature_help(py::object error) {
    py::dict response;
    response["signatures"] = py::list();
    response["activeSignature"] = 0;
    response["activeParameter"] = 0;
    response["error"] = error;
    return response;
}

} // namespace

py::str CodeInsight::format_signature(py::object signature) const {
    const std::initializer_list<PyObject *> expected = {PyExc_AttributeError, PyExc_TypeError};
    py::str result;
    Caught first = guarded(
        [&] {
            py::object text = signature.attr("to_string")();
            if (!PyUnicode_Check(text.ptr()))
                throw py::type_error("to_string() returned " +
                                     std::string(Py_TYPE(text.ptr())->tp_name));
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
            result = concat({py::str("("), py::str(", ").attr("join")(pieces), py::str(")")});
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
            const py::str label = concat({py::str(texts::COMPACT_FUNCTION), name});
            Caught failed = guarded([&] {
                py::object signatures = definition.attr("get_signatures")();
                result = truthy(signatures)
                             ? fence(concat({label, format_signature(signatures[py::int_(0)])}))
                             : fence(label);
            });
            if (failed)
                result = fence(label);
        } else if (equals(kind, "class")) {
            result = fence(concat({py::str(texts::COMPACT_CLASS), name}));
        } else if (equals(kind, "module")) {
            result = fence(concat({py::str(texts::COMPACT_MODULE), name}));
        } else {
            result = fence(concat({py::str("("), kind, py::str(") "), name, py::str(": "),
                                   get_type_description(definition, kind)}));
        }
    });
    if (caught) {
        const zm::Logger &logger = log();
        if (logger.debug_enabled())
            logger.debug(std::string(texts::COMPACT_HOVER_FAILED) + zm::utf8(caught.text));
        return py::none();
    }
    return result;
}

py::dict CodeInsight::get_hover(py::object code, py::object line, py::object column,
                                py::object path, py::object modules, py::object dirty_files) {
    const zm::Logger &logger = log();
    const bool debug = logger.debug_enabled();
    if (debug)
        logger.debug(fill(texts::HOVER_REQUEST,
                          {as_int_text(line), as_int_text(column), as_text(path)}));
    py::object contents = py::none();
    Caught caught = guarded([&] {
        validate_position(code, line, column);
        sync_if_given(modules, dirty_files);
        py::object script = make_script(code, path);
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
                    py::object part;
                    Caught failed = guarded([&] {
                        py::object signatures = d.attr("get_signatures")();
                        part = truthy(signatures)
                                   ? fence(concat(
                                         {name, format_signature(signatures[py::int_(0)])}))
                                   : fence(name);
                    });
                    parts.append(failed ? fence(name) : part);
                } else if (equals(kind, "class")) {
                    parts.append(fence(concat({py::str(texts::DETAILED_CLASS), name})));
                } else if (equals(kind, "module")) {
                    parts.append(fence(concat({py::str(texts::DETAILED_MODULE), name})));
                } else {
                    parts.append(
                        fence(concat({name, py::str(": "), get_type_description(d, kind)})));
                }
                append_docstring(parts, d);
            }
            if (debug)
                logger.debug(fill(texts::HOVER_FOUND, {std::to_string(py::len(definitions))}));
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
                    if (truthy(name) && truthy(description))
                        parts.append(fence(
                            concat({py::str("("), description, py::str(") "), name})));
                    else if (truthy(name))
                        parts.append(fence(name));
                    append_docstring(parts, result);
                }
            }
            if (py::len(parts) > 0) {
                if (debug)
                    logger.debug(fill(texts::HELP_FOUND, {std::to_string(py::len(results))}));
                contents = markdown(join_parts(parts));
            }
        });
        if (help_failed && debug)
            logger.debug(fill(texts::HELP_FAILED, {zm::utf8(help_failed.text)}));
        if (contents.is_none() && debug)
            logger.debug(texts::HOVER_NOTHING);
    });
    py::dict response;
    if (caught) {
        logger.error(fill(texts::HOVER_FAILED, {zm::utf8(caught.text)}));
        response["contents"] = py::none();
        response["error"] = caught.text;
        return response;
    }
    response["contents"] = contents;
    response["error"] = py::none();
    return response;
}

py::dict CodeInsight::get_signature_help(py::object code, py::object line, py::object column,
                                         py::object path, py::object modules,
                                         py::object dirty_files) {
    const zm::Logger &logger = log();
    const bool debug = logger.debug_enabled();
    if (debug)
        logger.debug(fill(texts::SIGNATURE_REQUEST,
                          {as_int_text(line), as_int_text(column), as_text(path)}));
    const std::initializer_list<PyObject *> lookup_errors = {PyExc_AttributeError, PyExc_TypeError};
    py::dict response;
    Caught caught = guarded([&] {
        validate_position(code, line, column);
        sync_if_given(modules, dirty_files);
        py::object script = make_script(code, path);
        py::object signatures =
            script.attr("get_signatures")(py::arg("line") = line, py::arg("column") = column);
        if (!truthy(signatures)) {
            if (debug)
                logger.debug(texts::NO_SIGNATURES);
            response = empty_signature_help(py::none());
            return;
        }
        py::object sig = signatures[py::int_(0)];
        py::list parameters;
        for (py::handle param : sig.attr("params")) {
            py::dict entry;
            entry["label"] = attr(param, "name");
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
        py::str label =
            concat({or_else(name, py::str(texts::UNNAMED_FUNCTION)), parameter_part});
        py::object index = attr(sig, "index");
        py::object active = index.is_none() ? py::object(py::int_(0)) : index;
        if (debug)
            logger.debug(fill(texts::SIGNATURE_HELP, {as_text(name), as_int_text(active)}));
        py::dict signature;
        signature["label"] = label;
        signature["documentation"] = documentation;
        signature["parameters"] = parameters;
        py::list list;
        list.append(signature);
        response = py::dict();
        response["signatures"] = list;
        response["activeSignature"] = 0;
        response["activeParameter"] = active;
        response["error"] = py::none();
    });
    if (caught) {
        logger.error(fill(texts::SIGNATURE_FAILED, {zm::utf8(caught.text)}));
        return empty_signature_help(caught.text);
    }
    return response;
}

} // namespace code_insight
