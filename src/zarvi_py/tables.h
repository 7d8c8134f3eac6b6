// The Python Tables and Table classes over one frozen, shared Tables value
// and the spec that projected it. Both objects only share; nothing is copied.
#pragma once

#include "zarvi_core/column/table.h"
#include "zarvi_py/ref.h"
#include "zarvi_py/spec.h"

namespace zarvi_py {

// A new Tables object (of the projected tables and their spec).
Ref new_tables(zarvi_core::column::table::SharedTables tables, SharedSpec spec);

// The shared tables and spec of a Tables object; null (no exception) for
// anything else.
const zarvi_core::column::table::SharedTables* tables_of(PyObject* object);
const SharedSpec* tables_spec_of(PyObject* object);

// Imports a module for a frame conversion; a missing one raises ImportError
// naming the owner's method and the package extra that installs it.
Ref import_optional(const char* owner, const char* method, const char* module,
                    const char* extra);

}  // namespace zarvi_py
