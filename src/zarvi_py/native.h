// What parse and stream share at the boundary: reading the input bytes and
// the checks of their optional spec and delimiters arguments.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "zarvi_core/delimiters.h"
#include "zarvi_py/args.h"
#include "zarvi_py/ref.h"
#include "zarvi_py/spec.h"

namespace zarvi_py {

// The input bytes. A bytes object (exactly bytes: a subclass may export
// another buffer) cannot change, so it is read in place and `keep` holds it;
// any other buffer could change while the lock is released, so it is copied
// into `copy`.
struct Input {
  Ref keep;
  std::string_view borrowed;  // the bytes of `keep`
  std::string copy;

  bool is_borrowed() const { return static_cast<bool>(keep); }
  std::string_view bytes() const { return is_borrowed() ? borrowed : std::string_view(copy); }
};

// Reads `data` (any buffer of one-byte items, not a str) into out; false
// with TypeError set otherwise. `function` names the caller in the message.
// An input longer than `max_bytes` is refused with ParseError before any of
// it is copied.
bool read_input(PyObject* data, const char* function, Input& out,
                uint64_t max_bytes = UINT64_MAX);

// None or a Spec; false with the argument TypeError otherwise.
bool spec_arg(const char* function, PyObject* arg, SharedSpec& out);
// None or a Delimiters; false with the argument TypeError otherwise.
bool delimiters_arg(const char* function, PyObject* arg,
                    std::optional<zarvi_core::Delimiters>& out);

}  // namespace zarvi_py
