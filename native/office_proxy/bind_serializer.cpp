#include "office_proxy/bindings.hpp"
#include "office_proxy/core/module_state.hpp"
#include "office_proxy/texts.hpp"
#include "office_proxy/wire/serializer.hpp"

#include "common/python_class.hpp"

namespace zm::office_proxy {

void bind_serializer(py::module_ &m) {
    using core::state;
    using wire::from_wire;
    using wire::to_wire;
    py::cpp_function to_wire_fn([](py::object value) { return to_wire(value); },
                                py::name("to_wire"), py::arg("value"), py::pos_only(),
                                py::doc(texts::TO_WIRE_DOC));
    py::cpp_function from_wire_fn([](py::object wire) { return from_wire(wire); },
                                  py::name("from_wire"), py::arg("wire"),
                                  py::doc(texts::FROM_WIRE_DOC));
    state().to_wire_fn = to_wire_fn.inc_ref().ptr();
    state().from_wire_fn = from_wire_fn.inc_ref().ptr();
    py::dict ns;
    ns["to_wire"] = py::staticmethod(to_wire_fn);
    ns["from_wire"] = py::staticmethod(from_wire_fn);
    m.attr("Serializer") =
        zm::make_class(texts::MODULE_NAME, "Serializer", py::tuple(), ns, texts::SERIALIZER_DOC);
}

} // namespace zm::office_proxy
