#include "code_insight/bindings.hpp"
#include "code_insight/core/libraries.hpp"

namespace zm::code_insight {

void bind_constants(py::module_ &m) {
    core::init_libraries(m);
    m.attr("logger") = core::log().logger();
}

} // namespace zm::code_insight
