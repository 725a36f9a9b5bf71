#include "code_insight/core/module_files.hpp"

#include "code_insight/texts.hpp"
#include "common/text_format.hpp"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace zm::code_insight::core {

namespace {

std::string os_error(int err, const std::string &path) {
    return zm::format(texts::OS_ERROR, err, std::strerror(err), path);
}

} // namespace

bool module_file_is_contained(std::string_view name) {
    // Without a separator the file name is "<name>.py", which can be neither "." nor "..", so
    // the file stays inside the directory. Backslashes are refused too: they separate paths on
    // Windows and no module name holds one.
    return name.find('/') == std::string_view::npos && name.find('\\') == std::string_view::npos;
}

namespace {

FileStamp stamp_from(const struct stat &st) {
    FileStamp stamp;
    stamp.device = static_cast<std::uint64_t>(st.st_dev);
    stamp.inode = static_cast<std::uint64_t>(st.st_ino);
    stamp.size = static_cast<std::int64_t>(st.st_size);
    stamp.mtime_ns = static_cast<std::int64_t>(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec;
    stamp.ctime_ns = static_cast<std::int64_t>(st.st_ctim.tv_sec) * 1000000000 + st.st_ctim.tv_nsec;
    return stamp;
}

} // namespace

std::optional<FileStamp> stamp_of(const std::string &path) {
    struct stat st{};
    if (::stat(path.c_str(), &st) != 0)
        return std::nullopt;
    return stamp_from(st);
}

std::optional<FileStamp> regular_file_stamp(const std::string &path) {
    struct stat st{};
    // lstat: a link planted under a module's name is not that module's file.
    if (::lstat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode))
        return std::nullopt;
    return stamp_from(st);
}

std::string write_file(const std::string &path, std::string_view data) {
    // Never through a link, never blocking on a FIFO (no reader: ENXIO), and only into a regular
    // file, which is emptied once it is known to be one.
    const int fd =
        ::open(path.c_str(), O_WRONLY | O_CREAT | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC, 0666);
    if (fd < 0)
        return os_error(errno, path);
    struct stat st{};
    if (::fstat(fd, &st) != 0) {
        const int err = errno;
        ::close(fd);
        return os_error(err, path);
    }
    if (!S_ISREG(st.st_mode)) {
        ::close(fd);
        return zm::format(texts::NOT_REGULAR_FILE, path);
    }
    if (::ftruncate(fd, 0) != 0) {
        const int err = errno;
        ::close(fd);
        return os_error(err, path);
    }
    const char *p = data.data();
    std::size_t left = data.size();
    while (left > 0) {
        const ssize_t n = ::write(fd, p, left);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            const int err = errno;
            ::close(fd);
            return os_error(err, path);
        }
        p += n;
        left -= static_cast<std::size_t>(n);
    }
    if (::close(fd) != 0)
        return os_error(errno, path);
    return {};
}

std::string remove_file(const std::string &path) {
    if (::unlink(path.c_str()) != 0)
        return os_error(errno, path);
    return {};
}

} // namespace zm::code_insight::core
