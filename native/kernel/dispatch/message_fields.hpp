#pragma once
/// Reading the fields of an incoming message with their defaults, refusing values of the wrong
/// type with a FieldError that names the field and the problem (answered as an "error" reply).

#include "common/python.hpp"

#include <stdexcept>
#include <string>

namespace zm::kernel::dispatch {

/// A field of an incoming message holds a value of the wrong type.
class FieldError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

/// message[key] when present (even null), else `fallback`.
py::object field(py::handle message, const char *key, py::handle fallback);

/// A str field (absent: `fallback`); null is accepted only with `allow_none`.
py::object str_field(py::handle message, const char *key, py::handle fallback,
                     bool allow_none = false);

/// A list field: a list, or null / absent (a new empty list).
py::object list_field(py::handle message, const char *key);

/// A flag field: true or false; null or absent is false.
bool flag_field(py::handle message, const char *key);

/// A list-of-str field (absent: a new empty list).
py::object str_list_field(py::handle message, const char *key);

/// The type name of `value` as a reader of the wire would say it ("int", "dict", "NoneType").
std::string type_name(py::handle value);

} // namespace zm::kernel::dispatch
