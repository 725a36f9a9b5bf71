#include "requirement_solver/resolve/version_matcher.hpp"

#include "common/error_record.hpp"

namespace requirement_solver {

namespace {

PyObject *g_globals = nullptr; // strong reference kept for the life of the process

/// Only exact str keys are remembered: a str subclass may define its own equality.
bool cacheable(py::handle text) { return PyUnicode_CheckExact(text.ptr()); }

py::object dict_get(const py::dict &d, py::handle key) {
    PyObject *v = PyDict_GetItemWithError(d.ptr(), key.ptr());
    if (v == nullptr && PyErr_Occurred())
        throw py::error_already_set();
    return py::reinterpret_borrow<py::object>(v);
}

bool truth(py::handle value) {
    const int on = PyObject_IsTrue(value.ptr());
    if (on < 0)
        throw py::error_already_set();
    return on == 1;
}

bool matches(py::error_already_set &e, const py::object &type) {
    return !type.is_none() && PyExceptionClass_Check(type.ptr()) && e.matches(type);
}

} // namespace

void set_module_globals(py::dict globals) {
    Py_XDECREF(g_globals);
    g_globals = globals.release().ptr();
}

py::object module_global(const char *name) {
    PyObject *v = PyDict_GetItemString(g_globals, name);
    return v ? py::reinterpret_borrow<py::object>(v) : py::none();
}

Packaging Packaging::current() {
    Packaging p;
    const int on = PyObject_IsTrue(module_global("PACKAGING_AVAILABLE").ptr());
    if (on < 0)
        throw py::error_already_set();
    p.available = on == 1;
    p.specifier_set = module_global("SpecifierSet");
    p.invalid_specifier = module_global("InvalidSpecifier");
    p.version = module_global("Version");
    p.invalid_version = module_global("InvalidVersion");
    return p;
}

void VersionMatcher::follow(const Packaging &packaging) {
    if (packaging.specifier_set.ptr() == specifier_class_ &&
        packaging.version.ptr() == version_class_)
        return;
    specifier_class_ = packaging.specifier_set.ptr();
    version_class_ = packaging.version.ptr();
    PyDict_Clear(specifiers_.ptr());
    PyDict_Clear(spec_errors_.ptr());
    PyDict_Clear(versions_.ptr());
    PyDict_Clear(contains_.ptr());
}

py::object VersionMatcher::specifier_set(const Packaging &packaging, py::handle spec,
                                         py::object &error) {
    follow(packaging);
    const bool keep = cacheable(spec);
    if (keep) {
        if (py::object known = dict_get(specifiers_, spec))
            return known;
        if (py::object known_error = dict_get(spec_errors_, spec)) {
            error = known_error;
            return py::object();
        }
    }
    try {
        py::object parsed = packaging.specifier_set(spec);
        if (keep)
            specifiers_[spec] = parsed;
        return parsed;
    } catch (py::error_already_set &e) {
        if (!matches(e, packaging.invalid_specifier))
            throw;
        error = zm::exception_text(e.value());
    }
    if (keep)
        spec_errors_[spec] = error;
    return py::object();
}

py::object VersionMatcher::parse_version(const Packaging &packaging, py::handle text) {
    follow(packaging);
    const bool keep = cacheable(text);
    if (keep) {
        if (py::object known = dict_get(versions_, text))
            return known;
    }
    py::object parsed;
    try {
        parsed = packaging.version(text);
    } catch (py::error_already_set &e) {
        if (!matches(e, packaging.invalid_version))
            throw;
        parsed = py::none();
    }
    if (keep)
        versions_[text] = parsed;
    return parsed;
}

bool VersionMatcher::contains(py::handle spec, py::handle specifier_set, py::handle version_text,
                              py::handle version) {
    const bool keep = cacheable(spec) && cacheable(version_text);
    py::object answers;
    if (keep) {
        answers = dict_get(contains_, spec);
        if (!answers) {
            answers = py::dict();
            contains_[spec] = answers;
        }
        PyObject *known = PyDict_GetItemWithError(answers.ptr(), version_text.ptr());
        if (known != nullptr)
            return known == Py_True;
        if (PyErr_Occurred())
            throw py::error_already_set();
    }
    // Pre-releases match only when the specifier names one: the set's own `prereleases` says
    // whether it does. (Plain `in` follows the same rule only up to packaging 25.)
    py::object allow = py::bool_(truth(specifier_set.attr("prereleases")));
    py::object answer =
        specifier_set.attr("contains")(version, py::arg("prereleases") = std::move(allow));
    const int in = PyObject_IsTrue(answer.ptr());
    if (in < 0)
        throw py::error_already_set();
    if (keep && PyDict_SetItem(answers.ptr(), version_text.ptr(), in ? Py_True : Py_False) < 0)
        throw py::error_already_set();
    return in == 1;
}

} // namespace requirement_solver
