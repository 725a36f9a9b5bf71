#pragma once
/// Every text of the resolver: log lines, error texts, conflict keys.

namespace requirement_solver::texts {

inline constexpr const char *MODULE_NAME = "zentrel_master.business_layer.requirement_solver";
inline constexpr const char *CLIENT_MODULE =
    "zentrel_master.business_layer.packages.package_index_client";

// Log lines and the error entry of a failed fetch (PyUnicode_FromFormat; %S is str()).
inline constexpr const char *CONFLICT =
    "Conflict: %S version %S requested by %S, but version %S already resolved. Using %S.";
inline constexpr const char *DIRECT = "direct";
inline constexpr const char *FETCH_FAILED = "Failed to fetch dependencies for %S==%S: %S";
inline constexpr const char *RESOLVED = "Resolved %zd packages (%zd direct, %zd dependencies)";
inline constexpr const char *FOUND_CONFLICTS = "Found %zd version conflicts";
inline constexpr const char *SKIPPING = "Skipping dependency resolution for %S (from current dist)";
inline constexpr const char *NO_VERSION_FOR = "Could not resolve version for %S with spec %S";
inline constexpr const char *FOUND_DEPENDENCIES = "Found %zd dependencies for %S==%S";
inline constexpr const char *SATISFIED_BY_DIST = "Package %S satisfied by current distribution: %S";
inline constexpr const char *NO_PACKAGING =
    "packaging library not available, falling back to exact version matching";
inline constexpr const char *NON_EXACT = "Non-exact version spec '%S' for %S, using latest";
inline constexpr const char *INVALID_SPECIFIER = "Invalid version specifier '%S' for %S: %S";
inline constexpr const char *NO_MATCH = "No versions of %S match specifier %S";

// Malformed answers of the index client (they end in the result's errors).
inline constexpr const char *DEPS_NOT_A_LIST =
    "the index returned dependencies of type %.100s, expected a list";
inline constexpr const char *DEP_NOT_A_MAP = "dependency entry [%zd] is a %.100s, expected a dict";
inline constexpr const char *DEP_MISSING_KEY = "dependency entry [%zd] has no '%s'";
inline constexpr const char *DEP_WRONG_TYPE =
    "dependency entry [%zd] has a '%s' of type %.100s, expected %s";
inline constexpr const char *DEP_EXTRA_NOT_TEXT =
    "dependency entry [%zd] lists an extra of type %.100s, expected str";
inline constexpr const char *NOT_A_PAIR =
    "_resolve_best_version returned %.100s, expected a (version, from_dist) pair";
inline constexpr const char *NOT_A_SPEC =
    "get_package_dependencies returned an item of type %.100s, expected PackageSpec";

// Conflict map keys, in this order.
inline constexpr const char *KEY_PACKAGE = "package";
inline constexpr const char *KEY_EXISTING_VERSION = "existing_version";
inline constexpr const char *KEY_REQUESTED_VERSION = "requested_version";
inline constexpr const char *KEY_REQUESTED_BY = "requested_by";

} // namespace requirement_solver::texts
