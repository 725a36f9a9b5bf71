#pragma once
/// The bookkeeping of one breadth-first walk: which (name, version) pairs were visited and which
/// normalised names are resolved, in resolution order. Needs no Python: names and versions are
/// UTF-8 keys, the resolved entries are addressed by their position.

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <unordered_set>

namespace zm::requirement_solver::resolve {

class ResolveBook {
public:
    /// Marks (name, version) as visited; false when it already was.
    bool visit(std::string_view normalized_name, std::string_view version);

    /// Position of the entry resolved for `normalized_name`, if any.
    std::optional<std::size_t> find(const std::string &normalized_name) const;

    /// Records `normalized_name` as resolved and returns its position (resolution order).
    std::size_t add(std::string normalized_name);

    std::size_t size() const noexcept { return resolved_.size(); }

private:
    std::unordered_set<std::string> visited_;
    std::unordered_map<std::string, std::size_t> resolved_;
};

} // namespace zm::requirement_solver::resolve
