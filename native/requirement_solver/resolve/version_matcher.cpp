#include "requirement_solver/resolve/version_matcher.hpp"

#include "common/args.hpp"
#include "common/error_record.hpp"
#include "requirement_solver/model/python_values.hpp"

namespace zm::requirement_solver::resolve {

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

bool matches(py::error_already_set &e, const py::object &type) {
    return !type.is_none() && PyExceptionClass_Check(type.ptr()) && e.matches(type);
}

} // namespace

void set_module_globals(py::dict globals) {
    Py_XDECREF(g_globals);
    g_globals = globals.release().ptr();
}

py::object module_global(py::handle name) {
    PyObject *v = PyDict_GetItemWithError(g_globals, name.ptr());
    if (v == nullptr && PyErr_Occurred())
        throw py::error_already_set();
    return v ? py::reinterpret_borrow<py::object>(v) : py::none();
}

py::object module_global(const char *name) {
    return module_global(py::reinterpret_steal<py::object>(PyUnicode_FromString(name)));
}

Packaging Packaging::current() {
    static PyObject *const keys[] = {
        PyUnicode_InternFromString("PACKAGING_AVAILABLE"),
        PyUnicode_InternFromString("SpecifierSet"),
        PyUnicode_InternFromString("InvalidSpecifier"),
        PyUnicode_InternFromString("Version"),
        PyUnicode_InternFromString("InvalidVersion"),
    };
    Packaging p;
    p.available = zm::truthy(module_global(keys[0]));
    p.specifier_set = module_global(keys[1]);
    p.invalid_specifier = module_global(keys[2]);
    p.version = module_global(keys[3]);
    p.invalid_version = module_global(keys[4]);
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
    PyDict_Clear(best_.ptr());
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

namespace {

/// The key of a remembered choice, or an empty object when some text is not an exact str.
py::object best_key(py::handle spec, py::handle versions) {
    if (!cacheable(spec))
        return py::object();
    const Py_ssize_t n = PyTuple_GET_SIZE(versions.ptr());
    for (Py_ssize_t i = 0; i < n; ++i)
        if (!cacheable(PyTuple_GET_ITEM(versions.ptr(), i)))
            return py::object();
    return py::make_tuple(spec, versions);
}

} // namespace

py::object VersionMatcher::known_best(py::handle spec, py::handle versions) {
    // Only valid while the classes that made the answers are bound (follow() ran this call).
    if (py::object key = best_key(spec, versions))
        return dict_get(best_, key);
    return py::object();
}

void VersionMatcher::remember_best(py::handle spec, py::handle versions, py::handle best) {
    if (py::object key = best_key(spec, versions))
        best_[key] = best;
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
    py::object allow = py::bool_(zm::truthy(specifier_set.attr("prereleases")));
    py::object answer =
        specifier_set.attr("contains")(version, py::arg("prereleases") = std::move(allow));
    const int in = PyObject_IsTrue(answer.ptr());
    if (in < 0)
        throw py::error_already_set();
    if (keep && PyDict_SetItem(answers.ptr(), version_text.ptr(), in ? Py_True : Py_False) < 0)
        throw py::error_already_set();
    return in == 1;
}

} // namespace zm::requirement_solver::resolve
