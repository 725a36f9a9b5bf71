#include "kernel/execution/virtual_environment.hpp"

#include "common/args.hpp"
#include "kernel/core/runtime.hpp"

namespace zm::kernel::execution {

namespace {

py::object sys_path() { return core::runtime().sys.attr("path"); }

bool contains(py::handle container, py::handle item) {
    const int found = PySequence_Contains(container.ptr(), item.ptr());
    if (found < 0)
        throw py::error_already_set();
    return found == 1;
}

/// A new list with the items of `sequence` (py::list of a list would share it).
py::list copy_list(py::handle sequence) {
    PyObject *copy = PySequence_List(sequence.ptr());
    if (copy == nullptr)
        throw py::error_already_set();
    return py::reinterpret_steal<py::list>(copy);
}

} // namespace

VirtualEnvironment::VirtualEnvironment(py::object id) {
    check_str(id, "workbook_id");
    workbook_id = id;
    original_path = copy_list(sys_path());
    custom_paths = py::list();
}

void VirtualEnvironment::add_path(py::object path) {
    check_str(path, "path");
    if (contains(custom_paths, path))
        return;
    custom_paths.attr("append")(path);
    py::object search_path = sys_path();
    if (!contains(search_path, path))
        search_path.attr("insert")(0, path);
}

void VirtualEnvironment::remove_path(py::object path) {
    check_str(path, "path");
    if (!contains(custom_paths, path))
        return;
    custom_paths.attr("remove")(path);
    py::object search_path = sys_path();
    if (contains(search_path, path))
        search_path.attr("remove")(path);
}

void VirtualEnvironment::reset_path() {
    py::object search_path = sys_path();
    // In place: the same list object stays installed as sys.path.
    if (PySequence_DelSlice(search_path.ptr(), 0, PY_SSIZE_T_MAX) != 0)
        throw py::error_already_set();
    search_path.attr("extend")(original_path);
    custom_paths.attr("clear")();
}

py::list VirtualEnvironment::get_paths() const { return copy_list(custom_paths); }

} // namespace zm::kernel::execution
