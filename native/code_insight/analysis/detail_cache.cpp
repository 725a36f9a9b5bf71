#include "code_insight/analysis/detail_cache.hpp"

namespace zm::code_insight::analysis {

const std::optional<core::FileStamp> &StampMemo::stamp(const std::string &path) {
    auto it = seen_.find(path);
    if (it == seen_.end())
        it = seen_.emplace(path, core::stamp_of(path)).first;
    return it->second;
}

bool Sources::add(const std::string &path, StampMemo &memo) {
    const std::optional<core::FileStamp> &now = memo.stamp(path);
    if (!now)
        return false;
    for (const auto &[known, stamp] : files_)
        if (known == path)
            return true;
    files_.emplace_back(path, *now);
    return true;
}

bool Sources::current(StampMemo &memo) const {
    for (const auto &[path, stamp] : files_) {
        const std::optional<core::FileStamp> &now = memo.stamp(path);
        if (!now || !(*now == stamp))
            return false;
    }
    return true;
}

bool path_within(std::string_view path, std::string_view dir) {
    while (dir.size() > 1 && dir.back() == '/')
        dir.remove_suffix(1);
    if (dir.empty() || path.substr(0, dir.size()) != dir)
        return false;
    return path.size() == dir.size() || path[dir.size()] == '/' || dir == "/";
}

} // namespace zm::code_insight::analysis
