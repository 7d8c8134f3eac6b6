// The Arrow PyCapsule protocol of a Table: capsules named "arrow_schema",
// "arrow_array" and "arrow_array_stream" over the zero-copy export of one
// table of a frozen Tables value. A capsule owns its C struct and releases it
// when the consumer has not taken it over.
#pragma once

#include <cstddef>

#include "zarvi_core/column/table.h"
#include "zarvi_py/ref.h"

namespace zarvi_py {

// Each raises RuntimeError when the table cannot be exported. The array and
// stream are built with the interpreter lock released.
Ref schema_capsule(const zarvi_core::column::table::SharedTables& tables, size_t index);
Ref array_capsules(const zarvi_core::column::table::SharedTables& tables, size_t index);  // a 2-tuple
Ref stream_capsule(const zarvi_core::column::table::SharedTables& tables, size_t index);

}  // namespace zarvi_py
