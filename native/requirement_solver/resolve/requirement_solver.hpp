#pragma once
/// `RequirementSolver`: breadth-first walk over the dependency graph that a package index client
/// describes, pinning one version per package, first come first served.

#include "common/coroutine.hpp"
#include "requirement_solver/resolve/version_matcher.hpp"

#include <memory>

namespace zm::requirement_solver::resolve {

struct RequirementSolver {
    py::object settings_manager; ///< the host's settings object, opaque here
    py::object package_cache;    ///< optional cache with get_cached_package, or None
    py::object client;           ///< PackageIndexClient(settings_manager)
};

/// The overridable coroutine methods the walk calls on itself.
enum class Method { GetPackageDependencies, ResolveBestVersion, GetLatestVersion, GetAllVersions };

/// Records the function the class binds for `method`, so calls can skip Python when it is not
/// overridden on a subclass or an instance.
void remember_own_method(Method method, py::handle function);

/// `resolve`; `specs` is a checked private list of PackageSpec.
zm::Coro resolve(py::object self, py::list specs);

/// `get_package_dependencies`; `matcher` carries parsed versions across one resolution.
zm::Coro get_package_dependencies(py::object self, py::object package_name, py::object version,
                                  py::object extras, bool from_dist,
                                  std::shared_ptr<VersionMatcher> matcher);

/// `_resolve_best_version`: a (version or None, from_dist) tuple.
zm::Coro resolve_best_version(py::object self, py::object package_name, py::object version_spec,
                              py::object extras, std::shared_ptr<VersionMatcher> matcher);

/// `_get_latest_version`.
zm::Coro get_latest_version(py::object self, py::object package_name);

/// `_get_all_versions`.
zm::Coro get_all_versions(py::object self, py::object package_name);

/// `_normalize_name`: lower-cased, runs of '-', '_', '.' replaced by one '-'.
py::str normalize_name(py::handle name);

} // namespace zm::requirement_solver::resolve
