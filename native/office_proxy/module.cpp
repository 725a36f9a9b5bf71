#include "bindings.hpp"
#include "core/module_state.hpp"
#include "texts.hpp"

#include "common/python.hpp"

PYBIND11_MODULE(office_proxy, m) {
    m.doc() = office_proxy::text::MODULE_DOC;
    office_proxy::init_state(m);
    office_proxy::bind_serializer(m);
    office_proxy::bind_messaging(m);
    office_proxy::bind_proxies(m);
    m.attr("__all__") =
        py::make_tuple("Messaging", "Serializer", "OfficeJsObject", "OfficeJsArray",
                       "OfficeJsDict", "messaging", "Context", "Excel", "GetSetting", "Union",
                       "Intersect");
    m.attr("__all__") = py::list(m.attr("__all__"));
}
