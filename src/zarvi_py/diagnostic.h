// Core diagnostics as Python Diagnostic objects. The objects of one list
// share ownership of its deque; nothing borrows from the input.
#pragma once

#include <deque>

#include "zarvi_core/diagnostic.h"
#include "zarvi_py/ref.h"

namespace zarvi_py {

// A new Diagnostic holding d.
Ref new_diagnostic(zarvi_core::Diagnostic d);

// A new list of Diagnostic objects in the given order.
Ref diagnostic_list(std::deque<zarvi_core::Diagnostic> diagnostics);

}  // namespace zarvi_py
