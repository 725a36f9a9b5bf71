#pragma once
/// VirtualEnvironment: the directories a workbook added to sys.path, and the way back to the
/// search path the kernel started with.

#include "common/python.hpp"

namespace zm::kernel::execution {

class VirtualEnvironment {
public:
    explicit VirtualEnvironment(py::object workbook_id);

    void add_path(py::object path);
    void remove_path(py::object path);
    void reset_path();
    py::list get_paths() const;

    py::object workbook_id;
    py::object original_path;
    py::object custom_paths;
};

} // namespace zm::kernel::execution
