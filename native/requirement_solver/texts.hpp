#pragma once
/// Every text of the resolver: log lines, error texts, reprs, conflict keys. Texts with "{}"
/// holes are whole templates filled by `zm::format`.

namespace zm::requirement_solver::texts {

inline constexpr const char *MODULE_NAME = "zentrel_master.business_layer.requirement_solver";
inline constexpr const char *CLIENT_MODULE =
    "zentrel_master.business_layer.packages.package_index_client";
inline constexpr const char *MODULE_DOC =
    "Breadth-first package dependency resolution with first-come-first-served conflict handling.";

// Log lines and the error entry of a failed fetch; objects are shown by str().
inline constexpr const char *CONFLICT =
    "Conflict: {} version {} requested by {}, but version {} already resolved. Using {}.";
inline constexpr const char *DIRECT = "direct";
inline constexpr const char *FETCH_FAILED = "Failed to fetch dependencies for {}=={}: {}";
inline constexpr const char *RESOLVED = "Resolved {} packages ({} direct, {} dependencies)";
inline constexpr const char *FOUND_CONFLICTS = "Found {} version conflicts";
inline constexpr const char *SKIPPING = "Skipping dependency resolution for {} (from current dist)";
inline constexpr const char *NO_VERSION_FOR = "Could not resolve version for {} with spec {}";
inline constexpr const char *FOUND_DEPENDENCIES = "Found {} dependencies for {}=={}";
inline constexpr const char *SATISFIED_BY_DIST = "Package {} satisfied by current distribution: {}";
inline constexpr const char *NO_PACKAGING =
    "packaging library not available, falling back to exact version matching";
inline constexpr const char *NON_EXACT = "Non-exact version spec '{}' for {}, using latest";
inline constexpr const char *INVALID_SPECIFIER = "Invalid version specifier '{}' for {}: {}";
inline constexpr const char *NO_MATCH = "No versions of {} match specifier {}";

// Malformed answers of the index client (they end in the result's errors); type names are cut
// to 100 bytes.
inline constexpr const char *DEPS_NOT_A_LIST =
    "the index returned dependencies of type {}, expected a list";
inline constexpr const char *DEP_NOT_A_MAP = "dependency entry [{}] is a {}, expected a dict";
inline constexpr const char *DEP_MISSING_KEY = "dependency entry [{}] has no '{}'";
inline constexpr const char *DEP_WRONG_TYPE =
    "dependency entry [{}] has a '{}' of type {}, expected {}";
inline constexpr const char *DEP_EXTRA_NOT_TEXT =
    "dependency entry [{}] lists an extra of type {}, expected str";
inline constexpr const char *NOT_A_PAIR =
    "_resolve_best_version returned {}, expected a (version, from_dist) pair";
inline constexpr const char *NOT_A_SPEC =
    "get_package_dependencies returned an item of type {}, expected PackageSpec";

// Argument names of list items in type errors.
inline constexpr const char *PACKAGE_SPECS_ITEM = "package_specs[{}]";
inline constexpr const char *EXTRAS_ITEM = "extras[{}]";

// Reprs; objects are shown by repr().
inline constexpr const char *PACKAGE_SPEC_REPR =
    "PackageSpec(name={}, version={}, extras={}, from_dist={})";
inline constexpr const char *RESOLVED_PACKAGE_REPR =
    "ResolvedPackage(spec={}, path={}, is_direct={}, source={})";
inline constexpr const char *RESOLUTION_RESULT_REPR =
    "ResolutionResult(success={}, packages={}, conflicts={}, errors={})";

// Conflict map keys, in this order.
inline constexpr const char *KEY_PACKAGE = "package";
inline constexpr const char *KEY_EXISTING_VERSION = "existing_version";
inline constexpr const char *KEY_REQUESTED_VERSION = "requested_version";
inline constexpr const char *KEY_REQUESTED_BY = "requested_by";

} // namespace zm::requirement_solver::texts
