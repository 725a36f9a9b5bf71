#include "common/coroutine.hpp"

PYBIND11_MODULE(code_insight, m) {
    m.doc() = "Editor assistance for the workbook's modules: completions, hover, signature help and diagnostics.";
    zm::init_common(m);
}
