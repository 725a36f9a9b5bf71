#pragma once
/// Version matching through the `packaging` library, with the answers of one resolution kept:
/// a walk meets the same specifier and version texts thousands of times, and parsing them is
/// the dearest part of it. The answers are exactly the library's (the same calls, made once).

#include "common/python.hpp"

namespace zm::requirement_solver::resolve {

/// The packaging names the module binds right now (tests may rebind them).
struct Packaging {
    bool available = false;
    py::object specifier_set;     ///< SpecifierSet or None
    py::object invalid_specifier; ///< InvalidSpecifier or None
    py::object version;           ///< Version or None
    py::object invalid_version;   ///< InvalidVersion or None

    static Packaging current();
};

class VersionMatcher {
public:
    /// `SpecifierSet(spec)`; an empty object with `error` set to the text of the
    /// InvalidSpecifier when the library rejects it.
    py::object specifier_set(const Packaging &packaging, py::handle spec, py::object &error);

    /// `Version(text)`, or None when the library raises InvalidVersion.
    py::object parse_version(const Packaging &packaging, py::handle text);

    /// `specifier_set.contains(version, prereleases=bool(specifier_set.prereleases))`: pre-releases
    /// only where the specifier names one; remembered per (spec text, version text).
    bool contains(py::handle spec, py::handle specifier_set, py::handle version_text,
                  py::handle version);

    /// The answer chosen earlier for this spec text and exactly these version texts (None for
    /// no match), or an empty object when there is none.
    py::object known_best(py::handle spec, py::handle versions);
    void remember_best(py::handle spec, py::handle versions, py::handle best);

private:
    /// Forgets every answer when the library's classes were rebound since the last call.
    void follow(const Packaging &packaging);

    PyObject *specifier_class_ = nullptr; ///< identity only, never dereferenced
    PyObject *version_class_ = nullptr;
    py::dict specifiers_;  ///< spec text -> SpecifierSet
    py::dict spec_errors_; ///< spec text -> InvalidSpecifier text
    py::dict versions_;    ///< version text -> Version or None
    py::dict contains_;    ///< spec text -> {version text -> bool}
    py::dict best_;        ///< (spec text, tuple of version texts) -> version text or None
};

/// The module's globals, for the names tests may rebind (set once at module initialisation).
void set_module_globals(py::dict globals);
py::object module_global(py::handle name);
py::object module_global(const char *name);

} // namespace zm::requirement_solver::resolve
