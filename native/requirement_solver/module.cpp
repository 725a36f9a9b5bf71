#include "common/coroutine.hpp"
#include "requirement_solver/bindings.hpp"
#include "requirement_solver/texts.hpp"

PYBIND11_MODULE(requirement_solver, m) {
    m.doc() = zm::requirement_solver::texts::MODULE_DOC;
    zm::init_common(m);
    zm::requirement_solver::bind_models(m);
    zm::requirement_solver::bind_solver(m);
}
