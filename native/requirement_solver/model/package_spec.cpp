#include "requirement_solver/model/package_spec.hpp"

#include "common/args.hpp"
#include "common/text_format.hpp"
#include "requirement_solver/model/python_values.hpp"
#include "requirement_solver/texts.hpp"

#include <string>

namespace zm::requirement_solver::model {

namespace {

void check_extras(py::handle extras) {
    zm::check_list(extras, "extras");
    const Py_ssize_t n = PyList_GET_SIZE(extras.ptr());
    for (Py_ssize_t i = 0; i < n; ++i) {
        py::handle item = PyList_GET_ITEM(extras.ptr(), i);
        if (!PyUnicode_Check(item.ptr())) {
            const std::string what = zm::format(texts::EXTRAS_ITEM, i);
            zm::raise_argument_type(what.c_str(), "str", item);
        }
    }
}

} // namespace

py::object lower(py::handle text) {
    static PyObject *name = PyUnicode_InternFromString("lower");
    PyObject *r = PyObject_CallMethodNoArgs(text.ptr(), name);
    if (r == nullptr)
        throw py::error_already_set();
    return py::reinterpret_steal<py::object>(r);
}

py::list sorted_copy(py::handle list) {
    PyObject *copy = PySequence_List(list.ptr());
    if (copy == nullptr)
        throw py::error_already_set();
    py::list out = py::reinterpret_steal<py::list>(copy);
    if (PyList_Sort(copy) < 0)
        throw py::error_already_set();
    return out;
}

PackageSpec PackageSpec::make(py::object name, py::object version, py::object extras,
                              py::object from_dist) {
    zm::check_str(name, "name");
    zm::check_str(version, "version");
    if (extras.is_none())
        extras = py::list();
    else
        check_extras(extras);
    return PackageSpec{std::move(name), std::move(version), std::move(extras),
                       zm::truthy(from_dist)};
}

void PackageSpec::set_name(py::object value) {
    zm::check_str(value, "name");
    name = std::move(value);
}

void PackageSpec::set_version(py::object value) {
    zm::check_str(value, "version");
    version = std::move(value);
}

void PackageSpec::set_extras(py::object value) {
    check_extras(value);
    extras = std::move(value);
}

bool PackageSpec::equals(py::handle other) const {
    if (!PyObject_TypeCheck(other.ptr(), package_spec_type()))
        return false;
    const PackageSpec &o = other.cast<const PackageSpec &>();
    return rich_equal(lower(name), lower(o.name)) && rich_equal(version, o.version) &&
           rich_equal(sorted_copy(extras), sorted_copy(o.extras));
}

Py_hash_t PackageSpec::hash() const {
    PyObject *extras_tuple = PyList_AsTuple(sorted_copy(extras).ptr());
    if (extras_tuple == nullptr)
        throw py::error_already_set();
    py::tuple key =
        py::make_tuple(lower(name), version, py::reinterpret_steal<py::object>(extras_tuple));
    const Py_hash_t h = PyObject_Hash(key.ptr());
    if (h == -1 && PyErr_Occurred())
        throw py::error_already_set();
    return h;
}

py::dict PackageSpec::to_dict() const {
    using namespace pybind11::literals;
    return py::dict("name"_a = name, "version"_a = version, "extras"_a = extras,
                    "from_dist"_a = py::bool_(from_dist));
}

py::str PackageSpec::repr() const {
    const std::string name_text = repr_text(name), version_text = repr_text(version);
    return zm::exact_str(zm::format(texts::PACKAGE_SPEC_REPR, name_text, version_text,
                                    repr_text(extras), from_dist ? "True" : "False"));
}

py::str PackageSpec::extras_key() const {
    static PyObject *comma = PyUnicode_InternFromString(",");
    PyObject *r = PyUnicode_Join(comma, sorted_copy(extras).ptr());
    if (r == nullptr)
        throw py::error_already_set();
    return py::reinterpret_steal<py::str>(r);
}

PackageSpec &as_package_spec(py::handle value, const char *what) {
    if (!PyObject_TypeCheck(value.ptr(), package_spec_type()))
        zm::raise_argument_type(what, "PackageSpec", value);
    return value.cast<PackageSpec &>();
}

py::object new_package_spec(PackageSpec spec) { return py::cast(std::move(spec)); }

} // namespace zm::requirement_solver::model

namespace zm::requirement_solver::model {

PyTypeObject *package_spec_type() {
    static PyTypeObject *type = reinterpret_cast<PyTypeObject *>(py::type::of<PackageSpec>().ptr());
    return type;
}

} // namespace zm::requirement_solver::model
