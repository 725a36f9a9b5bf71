#include "requirement_solver/model/resolution.hpp"

#include "common/args.hpp"
#include "requirement_solver/model/package_spec.hpp"

namespace requirement_solver {

namespace {

py::object list_or_new(py::object value, const char *name) {
    if (value.is_none())
        return py::list();
    zm::check_list(value, name);
    return value;
}

py::str format(const char *fmt, PyObject *a, PyObject *b, PyObject *c, PyObject *d) {
    PyObject *r = PyUnicode_FromFormat(fmt, a, b, c, d);
    if (r == nullptr)
        throw py::error_already_set();
    return py::reinterpret_steal<py::str>(r);
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
    py::dict d;
    d["spec"] = spec.attr("to_dict")();
    d["path"] = path;
    d["is_direct"] = py::bool_(is_direct);
    d["from_dist"] = spec.attr("from_dist");
    return d;
}

py::str ResolvedPackage::repr() const {
    py::object direct = py::bool_(is_direct);
    return format("ResolvedPackage(spec=%R, path=%R, is_direct=%R, source=%R)", spec.ptr(),
                  path.ptr(), direct.ptr(), source.ptr());
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
    auto same = [](py::handle a, py::handle b) {
        const int r = PyObject_RichCompareBool(a.ptr(), b.ptr(), Py_EQ);
        if (r < 0)
            throw py::error_already_set();
        return r == 1;
    };
    return success == o.success && same(packages, o.packages) && same(conflicts, o.conflicts) &&
           same(errors, o.errors);
}

py::dict ResolutionResult::to_dict() const {
    py::list package_dicts;
    for (py::handle package : packages)
        package_dicts.append(package.attr("to_dict")());
    py::dict d;
    d["success"] = py::bool_(success);
    d["packages"] = package_dicts;
    d["conflicts"] = conflicts;
    d["errors"] = errors;
    return d;
}

py::str ResolutionResult::repr() const {
    py::object ok = py::bool_(success);
    return format("ResolutionResult(success=%R, packages=%R, conflicts=%R, errors=%R)", ok.ptr(),
                  packages.ptr(), conflicts.ptr(), errors.ptr());
}

} // namespace requirement_solver
