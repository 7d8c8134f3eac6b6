// parse and its Result: the document, the projected tables with their spec,
// and the diagnostics of one parse. A Result is immutable once made.
#pragma once

#include "zarvi_core/document.h"
#include "zarvi_py/ref.h"
#include "zarvi_py/spec.h"

namespace zarvi_py {

// What _loop_paths reads of a Result; both borrowed from it.
struct ResultParts {
  const zarvi_core::Document* document;
  const SharedSpec* spec;
};

// The parts of a Result object; null (no exception) for anything else, and
// null with RuntimeError for a Result the garbage collector has cleared. The
// pointer stays valid while the object lives.
const ResultParts* result_parts(PyObject* object);

}  // namespace zarvi_py
