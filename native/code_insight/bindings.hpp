#pragma once
/// Registration functions called by module.cpp, in this order.

#include "common/python.hpp"

namespace zm::code_insight {

/// Imports jedi and the optional checkers and sets the module constants.
void bind_constants(py::module_ &m);

/// Registers the CodeInsight class.
void bind_code_insight(py::module_ &m);

} // namespace zm::code_insight
