#include "requirement_solver/model/resolution.hpp"

#include "common/args.hpp"
#include "common/text_format.hpp"
#include "requirement_solver/model/package_spec.hpp"
#include "requirement_solver/model/python_values.hpp"
#include "requirement_solver/texts.hpp"

namespace zm::requirement_solver::model {

namespace {

using namespace pybind11::literals;

py::object list_or_new(py::object value, const char *name) {
    if (value.is_none())
        return py::list();
    zm::check_list(value, name);
    return value;
}

/// `tmpl` filled with the reprs of `a`, `b`, `c` and `d`, in that order.
py::str repr_of(zm::Template<std::string, std::string, std::string, std::string> tmpl, py::handle a,
                py::handle b, py::handle c, py::handle d) {
    const std::string ra = repr_text(a), rb = repr_text(b), rc = repr_text(c);
    return zm::exact_str(zm::format(tmpl, ra, rb, rc, repr_text(d)));
}

} // namespace

ResolvedPackage ResolvedPackage::make(py::object spec, py::object path, py::object is_direct,
                                      py::object source) {
    as_package_spec(spec, "spec");
    zm::check_str(path, "path", true);
    if (source.is_none())
        source = py::set();
    else
        zm::check_instance(source, &PySet_Type, "source");
    return ResolvedPackage{std::move(spec), std::move(path), zm::truthy(is_direct),
                           std::move(source)};
}

py::dict ResolvedPackage::to_dict() const {
    py::object spec_dict = spec.attr("to_dict")();
    return py::dict("spec"_a = spec_dict, "path"_a = path, "is_direct"_a = py::bool_(is_direct),
                    "from_dist"_a = spec.attr("from_dist"));
}

py::str ResolvedPackage::repr() const {
    py::object direct = py::bool_(is_direct);
    return repr_of(texts::RESOLVED_PACKAGE_REPR, spec, path, direct, source);
}

ResolutionResult ResolutionResult::make(py::object success, py::object packages,
                                        py::object conflicts, py::object errors) {
    return ResolutionResult{zm::truthy(success), list_or_new(std::move(packages), "packages"),
                            list_or_new(std::move(conflicts), "conflicts"),
                            list_or_new(std::move(errors), "errors")};
}

bool ResolutionResult::equals(py::handle other) const {
    if (!py::isinstance<ResolutionResult>(other))
        return false;
    const auto &o = other.cast<const ResolutionResult &>();
    return success == o.success && rich_equal(packages, o.packages) &&
           rich_equal(conflicts, o.conflicts) && rich_equal(errors, o.errors);
}

py::dict ResolutionResult::to_dict() const {
    py::list package_dicts;
    for (py::handle package : packages)
        package_dicts.append(package.attr("to_dict")());
    return py::dict("success"_a = py::bool_(success), "packages"_a = package_dicts,
                    "conflicts"_a = conflicts, "errors"_a = errors);
}

py::str ResolutionResult::repr() const {
    py::object ok = py::bool_(success);
    return repr_of(texts::RESOLUTION_RESULT_REPR, ok, packages, conflicts, errors);
}

} // namespace zm::requirement_solver::model
