// Small helpers every class and function of the extension shares: the
// standard argument TypeError, raising a message, and the life of a heap
// type's instance.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <type_traits>

#include "zarvi_py/ref.h"

namespace zarvi_py {

// A new dict of the keyword arguments keyed by exact str objects, untracked
// by the garbage collector; null with TypeError "keywords must be strings"
// for any other key.
Ref exact_keywords(PyObject* kwargs);

// Parses a call's arguments (format units "O" only, as with
// PyArg_ParseTupleAndKeywords) into `out` and returns strong references to
// them; none, with the exception set, on failure. The keyword dict may be
// the caller's own (a module function called with a dict, as
// _thread.start_new_thread does), so Python code run while one argument
// converts could free another, and the parse's own lookups run the __eq__
// of a key of a str subclass after earlier arguments are stored. It
// therefore reads a private dict keyed by exact str objects, whose lookups
// run no Python code, and which the garbage collector does not track, so
// that no finalizer can find it; its references are taken before it goes.
// Null arguments stay null.
template <class... Out>
std::optional<std::array<Ref, sizeof...(Out)>> parse_args(PyObject* args, PyObject* kwargs,
                                                          const char* format,
                                                          const char* const* keywords,
                                                          Out... out) {
  static_assert((std::is_same_v<Out, PyObject**> && ...));
  Ref copy;
  if (kwargs != nullptr && !(copy = exact_keywords(kwargs))) return std::nullopt;
  if (!PyArg_ParseTupleAndKeywords(args, copy.get(), format, const_cast<char**>(keywords),
                                   out...)) {
    return std::nullopt;
  }
  return std::array<Ref, sizeof...(Out)>{Ref::borrow(*out)...};
}

// "{function}() argument '{name}' must be {expected}, not {type}"; null.
Ref wrong_type(const char* function, const char* name, const char* expected, PyObject* got);

// The UTF-8 text of a str argument, borrowed from the object; false with the
// standard TypeError ("must be str") for anything else.
bool str_arg(const char* function, const char* name, PyObject* value, std::string_view& out);

// Raises `type` with the text (UTF-8) as its only argument; null.
Ref raise_text(PyObject* type, const std::string& text);

// MemoryError "not enough memory to {task}"; null. For memory that ran out
// in C++ (std::bad_alloc), or to replace the interpreter's bare MemoryError
// (see explain_no_memory).
Ref no_memory(const std::string& task);
// When the pending exception is a MemoryError, no_memory(task) instead; null.
Ref explain_no_memory(const std::string& task);

// Whether the pending exception is one the module may word in its own
// terms: an Exception other than MemoryError. KeyboardInterrupt, SystemExit,
// MemoryError and every other BaseException reach the caller as they are.
bool replaceable_error();

// Raises `type` with `message` and `cause` (an exception instance, or null)
// as its __cause__; null.
Ref raise_from(PyObject* type, PyObject* message, Ref cause);

// Takes the pending exception as one instance (null when none is set), its
// traceback attached.
Ref fetch_error();

// "12 bytes", "3.4 kB", "1.2 GB": a size for a message.
std::string size_text(uint64_t bytes);

// A new, zeroed instance of a heap type (from its type maker, which may
// have failed: null); null with an exception set on failure.
Ref alloc_object(PyObject* type);

// The last step of a heap type's dealloc: frees the memory and drops the
// instance's reference to its type.
void free_object(PyObject* self);

// RuntimeError for an object of the type named `owner` whose references the
// garbage collector has cleared (a finalizer may still reach it); null.
Ref raise_cleared(const char* owner);

// A new reference to a field of such an object, or raise_cleared.
Ref member(PyObject* field, const char* owner);

// Whether object is an instance of the type (from its type maker); a type
// that cannot be made counts as no match, with no exception left set.
bool instance_of(PyObject* object, PyObject* type);

}  // namespace zarvi_py
