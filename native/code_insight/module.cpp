#include "code_insight/bindings.hpp"
#include "code_insight/texts.hpp"
#include "common/coroutine.hpp"

PYBIND11_MODULE(code_insight, m) {
    m.doc() = zm::code_insight::texts::MODULE_DOC;
    zm::init_common(m);
    zm::code_insight::bind_constants(m);
    zm::code_insight::bind_code_insight(m);
}
