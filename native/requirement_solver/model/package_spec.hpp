#pragma once
/// `PackageSpec`: one requested package (name, exact version, extras, taken from the current
/// distribution or not). A value type: equal specs hash alike; `from_dist` takes no part.

#include "common/python.hpp"

namespace zm::requirement_solver::model {

struct PackageSpec {
    py::object name;    ///< str, as the caller wrote it
    py::object version; ///< str
    py::object extras;  ///< list of str
    bool from_dist = false;

    /// Checks the field types (raising TypeError) and builds the PackageSpec; `extras` None means
    /// none.
    static PackageSpec make(py::object name, py::object version, py::object extras,
                            py::object from_dist);

    void set_name(py::object value);
    void set_version(py::object value);
    void set_extras(py::object value);

    /// False for anything that is not a PackageSpec.
    bool equals(py::handle other) const;
    Py_hash_t hash() const;
    py::dict to_dict() const;
    py::str repr() const;

    /// `",".join(sorted(extras))`: the extras part of a cache key.
    py::str extras_key() const;
};

/// The Python type of PackageSpec, once bound.
PyTypeObject *package_spec_type();

/// Checks that `value` is a PackageSpec and returns it; `what` names it in the TypeError.
PackageSpec &as_package_spec(py::handle value, const char *what);

/// A new PackageSpec instance.
py::object new_package_spec(PackageSpec spec);

/// `text.lower()` for a str.
py::object lower(py::handle text);

/// A sorted copy of a list.
py::list sorted_copy(py::handle list);

} // namespace zm::requirement_solver::model
