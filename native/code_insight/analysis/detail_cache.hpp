#pragma once
/// Completion details (signature text and docstring) of library names, remembered between
/// requests. An entry is served only while every file it was computed from is unchanged (same
/// device, inode, size, modification and change time), so an edited or reinstalled library is
/// computed afresh.

#include "code_insight/core/module_files.hpp"

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <utility>
#include <vector>

namespace zm::code_insight::analysis {

/// The stamps of one request: each file is looked at once per request.
class StampMemo {
public:
    const std::optional<core::FileStamp> &stamp(const std::string &path);

private:
    std::unordered_map<std::string, std::optional<core::FileStamp>> seen_;
};

/// The files an entry was computed from, with their stamps at that time.
class Sources {
public:
    /// Records `path` as it is now; false when it cannot be read (then nothing is remembered).
    bool add(const std::string &path, StampMemo &memo);
    /// Whether every recorded file still has its recorded stamp.
    bool current(StampMemo &memo) const;

private:
    std::vector<std::pair<std::string, core::FileStamp>> files_;
};

/// Where a completion's details may be remembered: its key and the files they depend on.
struct LibraryName {
    std::string key;
    Sources sources;
};

/// Whether `path` is `dir` or lies below it (both as the file system spells them).
bool path_within(std::string_view path, std::string_view dir);

/// Remembered values by key, each valid while its sources are current.
template <class Value> class DetailCache {
public:
    /// Bounds memory: when full, the cache starts over.
    static constexpr std::size_t MAX_ENTRIES = 50000;

    /// The value remembered for `key`, or nullptr; a stale entry is dropped.
    const Value *find(const std::string &key, StampMemo &memo) {
        auto it = entries_.find(key);
        if (it == entries_.end())
            return nullptr;
        if (!it->second.sources.current(memo)) {
            entries_.erase(it);
            return nullptr;
        }
        return &it->second.value;
    }

    void store(std::string key, Sources sources, Value value) {
        if (entries_.size() >= MAX_ENTRIES)
            entries_.clear();
        entries_.insert_or_assign(std::move(key), Entry{std::move(sources), std::move(value)});
    }

    void clear() { entries_.clear(); }

private:
    struct Entry {
        Sources sources;
        Value value;
    };
    std::unordered_map<std::string, Entry> entries_;
};

} // namespace zm::code_insight::analysis
