#include "common/python_class.hpp"

namespace zm {

py::object make_class(const char *module, const char *name, py::tuple bases, py::dict ns,
                      const char *doc) {
    ns["__module__"] = module;
    ns["__qualname__"] = name;
    if (doc != nullptr)
        ns["__doc__"] = doc;
    py::object metaclass =
        bases.empty()
            ? py::reinterpret_borrow<py::object>(reinterpret_cast<PyObject *>(&PyType_Type))
            : py::type::of(bases[0]);
    return metaclass(name, bases, ns);
}

} // namespace zm
