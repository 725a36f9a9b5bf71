#pragma once
/// `ResolvedPackage` (one entry of a resolution) and `ResolutionResult` (the whole answer).

#include "common/python.hpp"

namespace zm::requirement_solver::model {

struct ResolvedPackage {
    py::object spec; ///< PackageSpec
    py::object path; ///< str or None: local path of a cached copy
    bool is_direct = false;
    py::object source; ///< set of str: names of the packages that required this one

    /// Checks `spec` and stores a new empty set when `source` is None.
    static ResolvedPackage make(py::object spec, py::object path, py::object is_direct,
                                py::object source);

    py::dict to_dict() const;
    py::str repr() const;
};

struct ResolutionResult {
    bool success = false;
    py::object packages;  ///< list of ResolvedPackage
    py::object conflicts; ///< list of conflict dicts
    py::object errors;    ///< list of str

    /// Checks the list fields; None stands for a new empty list.
    static ResolutionResult make(py::object success, py::object packages, py::object conflicts,
                                 py::object errors);

    bool equals(py::handle other) const;
    py::dict to_dict() const;
    py::str repr() const;
};

} // namespace zm::requirement_solver::model
