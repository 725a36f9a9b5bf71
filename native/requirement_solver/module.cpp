#include "common/coroutine.hpp"

PYBIND11_MODULE(requirement_solver, m) {
    m.doc() = "Breadth-first package dependency resolution with first-come-first-served conflict handling.";
    zm::init_common(m);
}
