// The import of a mapping of outside tables (anything with an Arrow
// PyCapsule stream, or what pyarrow.table accepts, such as pandas frames)
// into core tables typed by the spec a write will use. Runs with the
// interpreter lock held: it calls Python and the producers' callbacks.
#pragma once

#include <string>
#include <variant>

#include "zarvi_core/column/table.h"
#include "zarvi_core/spec/spec.h"
#include "zarvi_py/ref.h"

namespace zarvi_py {

// The tables, or a refusal: one message about the data.
using Imported = std::variant<zarvi_core::column::table::Tables, std::string>;

// Reads every (name, table) item of `mapping`. False with a Python exception
// set when Python failed (or a stream could not be opened: ValueError).
bool import_tables(const zarvi_core::spec::Spec& spec, PyObject* mapping, Imported& out);

}  // namespace zarvi_py
