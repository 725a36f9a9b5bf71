#include "code_insight/bindings.hpp"
#include "common/coroutine.hpp"

PYBIND11_MODULE(code_insight, m) {
    m.doc() = "Editor assistance for the workbook's modules: completions, hover, signature help "
              "and diagnostics.";
    zm::init_common(m);
    code_insight::bind_constants(m);
    code_insight::bind_code_insight(m);
}
