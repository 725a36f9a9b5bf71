// Completions: CodeInsight::get_completions.
#include "code_insight/core/code_insight.hpp"
#include "code_insight/core/guard.hpp"
#include "code_insight/core/libraries.hpp"
#include "code_insight/core/text_scan.hpp"
#include "code_insight/core/texts.hpp"
#include "common/args.hpp"

namespace code_insight {

namespace {

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
    py::dict summary;
    summary["line"] = line;
    summary["column"] = column;
    summary["path"] = path;
    // Text that is not a str has no length worth reporting; the request answers it with an error.
    if (PyUnicode_Check(code.ptr())) {
        summary["code_length"] = py::int_(PyUnicode_GET_LENGTH(code.ptr()));
        PyObject *preview = PyUnicode_Substring(code.ptr(), 0, 100);
        if (preview == nullptr)
            throw py::error_already_set();
        summary["code_preview"] = py::reinterpret_steal<py::object>(preview);
    } else {
        summary["code_length"] = py::none();
        summary["code_preview"] = py::none();
    }
    log().debug(fill(texts::COMPLETIONS_REQUEST, {as_text(summary)}));
}

} // namespace

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
            logger.debug(fill(texts::JEDI_RETURNED, {std::to_string(py::len(completions))}));
        for (py::handle completion : completions) {
            py::object name = attr(completion, "name");
            if (!offer_private && starts_with_underscore(name))
                continue;
            py::object type = attr(completion, "type");
            py::dict item;
            item["label"] = name;
            item["kind"] = kind_of(type);
            item["insertText"] = name;
            if (equals(type, "function")) {
                guarded([&] {
                    py::object signatures = completion.attr("get_signatures")();
                    if (truthy(signatures))
                        item["detail"] = format_signature(signatures[py::int_(0)]);
                });
            }
            guarded([&] {
                py::object doc = completion.attr("docstring")();
                if (truthy(doc))
                    item["documentation"] = doc;
            });
            items.append(item);
        }
        if (debug) {
            const std::size_t count = py::len(items);
            logger.debug(fill(texts::COMPLETIONS_RETURNED, {std::to_string(count)}));
            if (count > 0) {
                py::list sample;
                for (std::size_t i = 0; i < count && i < 5; ++i)
                    sample.append(items[i]["label"]);
                logger.debug(fill(texts::SAMPLE_COMPLETIONS,
                                  {as_text(sample), count > 5 ? "..." : ""}));
            }
        }
    });
    py::dict response;
    if (caught) {
        logger.error(fill(texts::COMPLETIONS_FAILED, {zm::utf8(caught.text)}));
        response["completions"] = py::list();
        response["error"] = caught.text;
        return response;
    }
    response["completions"] = items;
    response["error"] = py::none();
    return response;
}

} // namespace code_insight
