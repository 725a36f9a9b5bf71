#pragma once
/// Logging facade over the logger of `zentrel_master.logging_config.get_logger(name)`.
///
/// Debug logging sits on hot paths: check `debug_enabled()` before building a debug text.
///
/// A text record whose only destination is the process's background log writer (the handler
/// `zentrel_master.logging_config` installs) is handed to that writer's queue as a bare tuple:
/// the writer thread builds the LogRecord. Anything else in the way (another handler, a filter,
/// a disabled logger) takes the standard library's full path, so every handler sees what it
/// always saw.

#include "common/python.hpp"

#include <string_view>

namespace zm {

class Logger {
public:
    enum Level { DEBUG = 10, INFO = 20, WARNING = 30, ERROR = 40 };

    /// Fetches the logger named `name` from the host's logging configuration.
    explicit Logger(const char *name);

    /// Whether a record of `level` would be emitted: test it before building a hot-path text.
    bool enabled(Level level) const;
    bool debug_enabled() const { return enabled(DEBUG); }
    bool info_enabled() const { return enabled(INFO); }

    void log(Level level, std::string_view text) const;
    void log(Level level, py::handle text) const;
    void debug(std::string_view text) const { log(DEBUG, text); }
    void info(std::string_view text) const { log(INFO, text); }
    void warning(std::string_view text) const { log(WARNING, text); }
    void error(std::string_view text) const { log(ERROR, text); }
    /// Error-level log with the exception being handled attached (`exc_info=True`).
    void exception(std::string_view text) const;

    const py::object &logger() const { return logger_; }

private:
    /// Queues `text` for the background writer when it is the record's only destination.
    bool hand_to_writer(Level level, py::handle text) const;

    py::object logger_;
    py::object is_enabled_for_; ///< the logger's bound isEnabledFor (its answer is cached)
    py::object levels_[4];      ///< DEBUG .. ERROR as int objects
};

/// A logger that lives until the process ends (never destroyed after the interpreter).
const Logger &module_logger(const char *name);

} // namespace zm
