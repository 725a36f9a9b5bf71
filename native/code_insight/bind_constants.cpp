#include "code_insight/bindings.hpp"
#include "code_insight/core/libraries.hpp"

namespace code_insight {

void bind_constants(py::module_ &m) {
    init_libraries(m);
    m.attr("logger") = log().logger();
}

} // namespace code_insight
