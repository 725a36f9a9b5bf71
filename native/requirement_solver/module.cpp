#include "common/coroutine.hpp"
#include "requirement_solver/bindings.hpp"

PYBIND11_MODULE(requirement_solver, m) {
    m.doc() = "Breadth-first package dependency resolution with first-come-first-served conflict handling.";
    zm::init_common(m);
    requirement_solver::bind_models(m);
    requirement_solver::bind_solver(m);
}
