#include "requirement_solver/bindings.hpp"
#include "requirement_solver/model/package_spec.hpp"
#include "requirement_solver/model/resolution.hpp"

namespace zm::requirement_solver {

void bind_models(py::module_ &m) {
    using model::PackageSpec;
    using model::ResolutionResult;
    using model::ResolvedPackage;
    py::class_<PackageSpec>(m, "PackageSpec",
                            "One requested package: name, exact version, extras, and whether the "
                            "version comes from the current distribution.")
        .def(py::init(&PackageSpec::make), py::arg("name"), py::arg("version"),
             py::arg("extras") = py::none(), py::arg("from_dist") = false)
        .def_property(
            "name", [](const PackageSpec &s) { return s.name; }, &PackageSpec::set_name,
            "Package name as supplied by the caller (not normalised).")
        .def_property(
            "version", [](const PackageSpec &s) { return s.version; }, &PackageSpec::set_version,
            "Exact version string.")
        .def_property(
            "extras", [](const PackageSpec &s) { return s.extras; }, &PackageSpec::set_extras,
            "Requested extras.")
        .def_readwrite("from_dist", &PackageSpec::from_dist,
                       "True when the version was taken from the current Python distribution.")
        .def(
            "__eq__", [](const PackageSpec &s, py::object other) { return s.equals(other); },
            py::is_operator())
        .def("__hash__", &PackageSpec::hash)
        .def("__repr__", &PackageSpec::repr)
        .def("to_dict", &PackageSpec::to_dict,
             "{'name', 'version', 'extras', 'from_dist'} with the field values.");

    py::class_<ResolvedPackage> resolved(m, "ResolvedPackage", py::dynamic_attr(),
                                         "One entry of a resolution: the pinned spec, a cached "
                                         "copy's path, and who asked for it.");
    resolved
        .def(py::init(&ResolvedPackage::make), py::arg("spec"), py::arg("path") = py::none(),
             py::arg("is_direct") = false, py::arg("source") = py::none())
        .def_readwrite("spec", &ResolvedPackage::spec, "The resolved name, version and extras.")
        .def_readwrite("path", &ResolvedPackage::path,
                       "Local path of a cached copy of the package, or None.")
        .def_readwrite("is_direct", &ResolvedPackage::is_direct,
                       "True for packages the caller asked for, False for dependencies.")
        .def_readwrite("source", &ResolvedPackage::source,
                       "Names of the packages that required this one.")
        .def("__repr__", &ResolvedPackage::repr)
        .def("to_dict", &ResolvedPackage::to_dict,
             "{'spec', 'path', 'is_direct', 'from_dist'}; the source set is not included.");
    resolved.attr("is_error") = false;

    py::class_<ResolutionResult> result(m, "ResolutionResult",
                                        "The outcome of a resolution: ordered packages, version "
                                        "conflicts and errors.");
    result
        .def(py::init(&ResolutionResult::make), py::arg("success"),
             py::arg("packages") = py::none(), py::arg("conflicts") = py::none(),
             py::arg("errors") = py::none())
        .def_readwrite("success", &ResolutionResult::success,
                       "False when fetching some package's dependencies failed.")
        .def_readwrite("packages", &ResolutionResult::packages,
                       "ResolvedPackage entries, direct requests first.")
        .def_readwrite("conflicts", &ResolutionResult::conflicts,
                       "{'package', 'existing_version', 'requested_version', 'requested_by'} "
                       "for each later request of an already resolved name.")
        .def_readwrite("errors", &ResolutionResult::errors, "Texts of the failures met.")
        .def(
            "__eq__", [](const ResolutionResult &r, py::object other) { return r.equals(other); },
            py::is_operator())
        .def("__repr__", &ResolutionResult::repr)
        .def("to_dict", &ResolutionResult::to_dict,
             "{'success', 'packages': [each to_dict()], 'conflicts', 'errors'}.");
    result.attr("__hash__") = py::none();
}

} // namespace zm::requirement_solver
