#include "kernel/core/kernel_hooks.hpp"

namespace zm::kernel::core {

KernelHooks &hooks() {
    static KernelHooks instance{core_dispatch, [](py::object) {}, [](py::object) {},
                                [](py::object, py::object, const std::string &) {}};
    return instance;
}

bool is_text(py::handle value, const char *text) {
    return PyUnicode_Check(value.ptr()) && PyUnicode_CompareWithASCIIString(value.ptr(), text) == 0;
}

py::object core_dispatch(py::object kernel, py::object msg_type, py::object) {
    if (is_text(msg_type, "shutdown"))
        return kernel.attr("disconnect")();
    return py::none();
}

} // namespace zm::kernel::core
