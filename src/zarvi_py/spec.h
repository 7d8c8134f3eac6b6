// The Python Spec class: a handle on one shared, immutable compiled spec, and
// the spec choice for a parse or a stream.
#pragma once

#include <memory>
#include <string>

#include "zarvi_core/document.h"
#include "zarvi_core/spec/spec.h"
#include "zarvi_core/spec/version.h"
#include "zarvi_core/tokenizer.h"
#include "zarvi_py/ref.h"

namespace zarvi_py {

using SharedSpec = zarvi_core::spec::SpecPtr;

// A new Python Spec over `spec`.
Ref wrap_spec(SharedSpec spec);

// The spec held by a Python Spec, or null when `object` is not one.
const SharedSpec* spec_of(PyObject* object);

// The built-in 5010 spec. A built-in that fails to compile is an internal
// fault: the result is then null with RuntimeError set (lock held).
SharedSpec builtin();

// `given` when set, otherwise the built-in chosen by the version the
// segments declare. Needs no lock; on an internal fault returns null and
// writes the message to `fault`, for the caller to raise once it holds the
// lock again.
SharedSpec given_or_selected(SharedSpec given, const zarvi_core::spec::NextSegment& next,
                             std::string& fault);
// The same over an indexed document (for parse) or a tokenizer of its own
// (for stream: the segments it reads are not handed back).
SharedSpec given_or_selected(SharedSpec given, const zarvi_core::Document& document,
                             std::string& fault);
SharedSpec given_or_selected(SharedSpec given, zarvi_core::Tokenizer tokenizer,
                             std::string& fault);

}  // namespace zarvi_py
