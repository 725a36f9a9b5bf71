#pragma once
/// Running a step under an `except Exception` guard.

#include "common/args.hpp"
#include "common/error_record.hpp"
#include "common/python.hpp"
#include "common/text_format.hpp"

#include <exception>
#include <initializer_list>
#include <new>
#include <string>
#include <string_view>

namespace zm::code_insight::core {

/// What a guarded step raised: `failed` and the exception's text.
struct Caught {
    bool failed = false;
    py::str text;
    py::object exception = py::none(); ///< the Python exception, when there is one

    explicit operator bool() const { return failed; }
};

/// Returns what `error` holds when it matches one of `types`; otherwise throws it on.
Caught catch_matching(py::error_already_set &error, std::initializer_list<PyObject *> types);

/// Runs `fn`; an exception derived from one of `types` (default: Exception) is caught and its
/// text returned; anything else (KeyboardInterrupt, SystemExit, ...) propagates. C++ errors count
/// as the Python exceptions pybind11 turns them into.
template <class F>
Caught guarded(F &&fn, std::initializer_list<PyObject *> types = {PyExc_Exception}) {
    try {
        fn();
        return {};
    } catch (py::error_already_set &e) {
        return catch_matching(e, types);
    } catch (py::builtin_exception &e) {
        e.set_error();
        py::error_already_set error;
        return catch_matching(error, types);
    } catch (std::bad_alloc &) {
        PyErr_NoMemory();
        py::error_already_set error;
        return catch_matching(error, types);
    }
}

/// Text of `obj` for a log line: str(obj), or its type's name when str() fails; never raises.
std::string as_text(const py::handle &obj);

/// Text of an integer for a log line (int(obj), so a bool shows as 1 or 0); other objects as
/// `as_text`; never raises.
std::string as_int_text(const py::handle &obj);

/// The UTF-8 bytes of the str `text` (`zm::exact_utf8`), for a template hole of a reply text;
/// TypeError when `text` is not a str (as joining it would raise).
std::string str_text(const py::handle &text);

using zm::truthy;

/// `value or fallback`.
inline py::object or_else(py::object value, py::object fallback) {
    return truthy(value) ? value : fallback;
}

/// Whether `text` is a str equal to the ASCII text `expected`.
inline bool equals(const py::handle &text, const char *expected) {
    return PyUnicode_Check(text.ptr()) &&
           PyUnicode_CompareWithASCIIString(text.ptr(), expected) == 0;
}

/// `getattr(obj, name)`.
py::object attr(const py::handle &obj, const char *name);

/// A request's answer: {key: result, "error": None}; after a failure, which is logged with
/// `failed_log`, {key: failed_result, "error": the failure's text}.
py::dict answer(const char *key, const py::object &result, const Caught &caught,
                zm::Template<std::string> failed_log, const py::object &failed_result);

} // namespace zm::code_insight::core
