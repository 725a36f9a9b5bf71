#pragma once
/// Registration of the module's classes and names, one function per area, called in order.

#include "common/python.hpp"

namespace zm::requirement_solver {

/// PackageSpec, ResolvedPackage, ResolutionResult.
void bind_models(py::module_ &m);

/// The packaging names, PACKAGING_AVAILABLE, logger, PackageIndexClient, RequirementSolver.
void bind_solver(py::module_ &m);

} // namespace zm::requirement_solver
