#include "common/python.hpp"
#include "office_proxy/bindings.hpp"
#include "office_proxy/core/module_state.hpp"
#include "office_proxy/texts.hpp"

PYBIND11_MODULE(office_proxy, m) {
    namespace op = zm::office_proxy;
    m.doc() = op::texts::MODULE_DOC;
    op::core::init_state(m);
    op::bind_serializer(m);
    op::bind_messaging(m);
    op::bind_proxies(m);
    m.attr("__all__") =
        py::make_tuple("Messaging", "Serializer", "OfficeJsObject", "OfficeJsArray", "OfficeJsDict",
                       "messaging", "Context", "Excel", "GetSetting", "Union", "Intersect");
    m.attr("__all__") = py::list(m.attr("__all__"));
}
