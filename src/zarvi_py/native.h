// What parse and stream share at the boundary: the copy of the input bytes
// and the checks of their optional spec and delimiters arguments.
#pragma once

#include <optional>
#include <string>

#include "zarvi_core/delimiters.h"
#include "zarvi_py/args.h"
#include "zarvi_py/ref.h"
#include "zarvi_py/spec.h"

namespace zarvi_py {

// Copies `data` (any buffer of one-byte items, not a str) into out; false
// with TypeError set otherwise. `function` names the caller in the message.
bool copy_input(PyObject* data, const char* function, std::string& out);

// None or a Spec; false with the argument TypeError otherwise.
bool spec_arg(const char* function, PyObject* arg, SharedSpec& out);
// None or a Delimiters; false with the argument TypeError otherwise.
bool delimiters_arg(const char* function, PyObject* arg,
                    std::optional<zarvi_core::Delimiters>& out);

}  // namespace zarvi_py
