#pragma once
/// The files that mirror the workbook's modules in the private temporary directory.
///
/// A module name becomes `<directory>/<name>.py`. Names are used as they come from the peer, so
/// every name is checked first: a name holding a path separator (which covers absolute names and
/// "..") would place its file elsewhere and is refused.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace zm::code_insight::core {

/// Whether the file of module `name` is a direct child of the temporary directory.
bool module_file_is_contained(std::string_view name);

/// Identity of a file's current content as far as the parser cache can tell (it keys on path
/// and modification time).
struct FileStamp {
    std::uint64_t device = 0;
    std::uint64_t inode = 0;
    std::int64_t size = 0;
    std::int64_t mtime_ns = 0;
    std::int64_t ctime_ns = 0;

    bool operator==(const FileStamp &) const = default;
};

/// The stamp of whatever `path` names (links followed: a library file or folder), or nothing
/// when it cannot be read.
std::optional<FileStamp> stamp_of(const std::string &path);

/// The stamp of the regular file at `path` in the mirror directory (links are not followed), or
/// nothing when there is none. Like the two below, it does file I/O only: callers release the
/// GIL around it.
std::optional<FileStamp> regular_file_stamp(const std::string &path);

/// Replaces the content of `path` by `data`; returns an error text ("[Errno N] ...: 'path'")
/// or empty text on success. A link, a FIFO or anything else but a regular file at `path` is
/// refused without being followed, opened for long or blocked on.
std::string write_file(const std::string &path, std::string_view data);

/// Removes `path`; returns an error text or empty text on success.
std::string remove_file(const std::string &path);

} // namespace zm::code_insight::core
