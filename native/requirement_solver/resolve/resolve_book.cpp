#include "requirement_solver/resolve/resolve_book.hpp"

namespace zm::requirement_solver::resolve {

bool ResolveBook::visit(std::string_view normalized_name, std::string_view version) {
    // The name's length leads the key, so no two pairs share one whatever bytes they hold.
    const std::size_t length = normalized_name.size();
    std::string key(reinterpret_cast<const char *>(&length), sizeof length);
    key.append(normalized_name).append(version);
    return visited_.insert(std::move(key)).second;
}

std::optional<std::size_t> ResolveBook::find(const std::string &normalized_name) const {
    const auto it = resolved_.find(normalized_name);
    if (it == resolved_.end())
        return std::nullopt;
    return it->second;
}

std::size_t ResolveBook::add(std::string normalized_name) {
    const std::size_t position = resolved_.size();
    resolved_.emplace(std::move(normalized_name), position);
    return position;
}

} // namespace zm::requirement_solver::resolve
