// Diagnostics: CodeInsight::get_diagnostics with its syntax, pyflakes and import checks.
#include "code_insight/core/code_insight.hpp"
#include "code_insight/core/guard.hpp"
#include "code_insight/core/libraries.hpp"
#include "code_insight/texts.hpp"
#include "common/args.hpp"
#include "common/exact_text.hpp"
#include "common/text_format.hpp"

#include <algorithm>
#include <vector>

namespace zm::code_insight::core {

namespace {

using namespace pybind11::literals;

constexpr int SEVERITY_ERROR = 8;
constexpr int SEVERITY_WARNING = 4;

py::dict record(py::object start_line, py::object start_column, py::object end_line,
                py::object end_column, py::object message, py::object severity) {
    return py::dict("startLineNumber"_a = start_line, "startColumn"_a = start_column,
                    "endLineNumber"_a = end_line, "endColumn"_a = end_column, "message"_a = message,
                    "severity"_a = severity);
}

py::object plus(const py::handle &a, long b) {
    PyObject *sum = PyNumber_Add(a.ptr(), py::int_(b).ptr());
    if (sum == nullptr)
        throw py::error_already_set();
    return py::reinterpret_steal<py::object>(sum);
}

void extend(py::list &into, const py::list &from) {
    for (py::handle item : from)
        into.append(item);
}

/// The records ordered by severity, highest first, keeping the order within one severity.
py::list by_severity(const py::list &records) {
    std::vector<std::pair<long long, py::object>> keyed;
    for (py::handle r : records) {
        py::object severity = r.attr("get")("severity", 0);
        keyed.emplace_back(severity.cast<long long>(), py::reinterpret_borrow<py::object>(r));
    }
    std::stable_sort(keyed.begin(), keyed.end(),
                     [](const auto &a, const auto &b) { return a.first > b.first; });
    py::list sorted;
    for (auto &entry : keyed)
        sorted.append(entry.second);
    return sorted;
}

std::string length_text(const py::handle &obj) {
    const Py_ssize_t n = PyObject_Length(obj.ptr());
    if (n < 0) {
        PyErr_Clear();
        return "None";
    }
    return std::to_string(n);
}

/// The records of one check, with the check's count logged at debug level, or its failure as a
/// warning (the records found before it are kept).
py::list counted(const py::list &records, const Caught &caught, zm::Template<std::size_t> found,
                 zm::Template<std::string> failed) {
    if (caught) {
        log().warning(zm::format(failed, zm::utf8(caught.text)));
        return records;
    }
    const zm::Logger &logger = log();
    if (logger.debug_enabled())
        logger.debug(zm::format(found, py::len(records)));
    return records;
}

} // namespace

py::dict CodeInsight::get_diagnostics(py::object code, py::object module_name) {
    zm::check_str(module_name, "module_name", true);
    const zm::Logger &logger = log();
    const bool debug = logger.debug_enabled();
    if (debug)
        logger.debug(zm::format(texts::DIAGNOSTICS_REQUEST, length_text(code)));
    py::list diagnostics;
    Caught caught = guarded([&] {
        if (!PyUnicode_Check(code.ptr()))
            throw py::value_error(texts::CODE_MUST_BE_STRING);
        py::str filename =
            truthy(module_name)
                ? zm::exact_str(zm::format(texts::MODULE_PATH, str_text(module_name)))
                : py::str(texts::EDITOR_PATH);
        bool syntax_ok = true;
        try {
            libs().ast_parse(code, py::arg("filename") = filename);
        } catch (py::error_already_set &e) {
            if (!e.matches(PyExc_SyntaxError))
                throw;
            syntax_ok = false;
            py::object error = e.value();
            py::object line = or_else(attr(error, "lineno"), py::int_(1));
            py::object column = or_else(attr(error, "offset"), py::int_(1));
            py::object message = or_else(attr(error, "msg"), py::str(texts::SYNTAX_ERROR));
            diagnostics.append(
                record(line, column, line, plus(column, 1), message, py::int_(SEVERITY_ERROR)));
            if (debug)
                logger.debug(zm::format(texts::SYNTAX_ERROR_AT, as_int_text(line),
                                        as_int_text(column), as_text(message)));
        }
        if (syntax_ok) {
            if (pyflakes_available())
                extend(diagnostics, run_pyflakes(code, filename));
            extend(diagnostics, check_unresolved_imports(code, module_name));
        }
        diagnostics = by_severity(diagnostics);
    });
    return answer("diagnostics", diagnostics, caught, texts::DIAGNOSTICS_FAILED, py::list());
}

py::list CodeInsight::run_pyflakes(py::object code, py::object filename) const {
    py::list records;
    Caught caught = guarded([&] {
        const Libraries &l = libs();
        py::object warnings = l.string_io();
        py::object errors = l.string_io();
        py::object reporter = l.module.attr("pyflakes_reporter").attr("Reporter")(warnings, errors);
        l.module.attr("pyflakes_api").attr("check")(code, filename, reporter);
        const std::pair<py::object *, int> streams[] = {{&warnings, SEVERITY_WARNING},
                                                        {&errors, SEVERITY_ERROR}};
        for (const auto &[stream, severity] : streams) {
            py::object lines = stream->attr("getvalue")().attr("split")("\n");
            for (py::handle line : lines) {
                py::object parsed =
                    parse_pyflakes_message(line.attr("strip")(), py::int_(severity));
                if (!parsed.is_none())
                    records.append(parsed);
            }
        }
    });
    return counted(records, caught, texts::PYFLAKES_RETURNED, texts::PYFLAKES_FAILED);
}

py::object CodeInsight::parse_pyflakes_message(py::object message, py::object severity) const {
    py::object result = py::none();
    Caught caught = guarded([&] {
        py::object match = libs().pyflakes_pattern.attr("match")(message);
        if (match.is_none())
            return;
        py::object group = match.attr("group");
        py::object line = py::int_(group(2));
        py::object column_text = group(3);
        py::object column =
            column_text.is_none() ? py::object(py::int_(1)) : py::object(py::int_(column_text));
        py::object text = group(4);
        py::object end_column = plus(column, 1);
        // Unused-import messages start with the quoted name: the marker then spans the name.
        const Py_ssize_t length = PyUnicode_GET_LENGTH(text.ptr());
        if (length > 2 && PyUnicode_READ_CHAR(text.ptr(), 0) == '\'') {
            const Py_ssize_t close = PyUnicode_FindChar(text.ptr(), '\'', 1, length, 1);
            if (close == -2)
                throw py::error_already_set();
            if (close > 1)
                end_column = plus(column, static_cast<long>(close - 1));
        }
        result = record(line, column, line, end_column, text, severity);
    });
    if (caught) {
        const zm::Logger &logger = log();
        if (logger.debug_enabled())
            logger.debug(
                zm::format(texts::PYFLAKES_PARSE_FAILED, as_text(message), zm::utf8(caught.text)));
        return py::none();
    }
    return result;
}

py::list CodeInsight::check_unresolved_imports(py::object code, py::object /*module_name*/) const {
    py::list records;
    Caught caught = guarded([&] {
        const Libraries &l = libs();
        py::object tree = l.ast_parse(code);
        auto flag = [&](const py::handle &node, const py::object &name) {
            py::object lineno = attr(node, "lineno");
            py::object col_offset = attr(node, "col_offset");
            py::object end_line = or_else(attr(node, "end_lineno"), lineno);
            py::object end_col = or_else(attr(node, "end_col_offset"), col_offset);
            py::str message(zm::format(texts::UNRESOLVED_IMPORT, zm::utf8(name)));
            records.append(record(lineno, plus(col_offset, 1), end_line, plus(end_col, 1), message,
                                  py::int_(SEVERITY_ERROR)));
        };
        for (py::handle node : l.ast_walk(tree)) {
            if (py::isinstance(node, l.ast_import)) {
                for (py::handle alias : node.attr("names")) {
                    py::object name = attr(alias, "name");
                    if (!can_resolve_import(name))
                        flag(node, name);
                }
            } else if (py::isinstance(node, l.ast_import_from)) {
                py::object module = attr(node, "module");
                if (module.is_none() || !truthy(module))
                    continue;
                if (!can_resolve_import(module))
                    flag(node, module);
            }
        }
    });
    return counted(records, caught, texts::IMPORT_CHECK_FOUND, texts::IMPORT_CHECK_FAILED);
}

} // namespace zm::code_insight::core
