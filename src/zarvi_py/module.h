// What module start-up needs from each file of the extension: the exception
// cells and the type and function makers that the one registration list uses.
#pragma once

#include "zarvi_core/delimiters.h"
#include "zarvi_py/ref.h"

namespace zarvi_py {

// Process-wide exception types, created on first use. Borrowed references.
PyObject* parse_error_type();
PyObject* spec_error_type();

// Creates a heap type from spec once per process and caches it in cell.
// Returns a borrowed reference, or null with an exception set.
PyObject* cached_type(PyObject*& cell, PyType_Spec& spec);

// Type makers (borrowed references), one per class, live in their own files
// and are declared here.
PyObject* diagnostic_type();
PyObject* spec_type();
PyObject* table_type();
PyObject* tables_type();
PyObject* delimiters_type();
PyObject* document_type();
PyObject* segment_type();
PyObject* result_type();
PyObject* batch_type();
PyObject* stream_type();
PyObject* envelope_type();
PyObject* write_finding_type();

// A new Delimiters object holding value (of type, by default Delimiters).
Ref new_delimiters(const zarvi_core::Delimiters& value, PyTypeObject* type = nullptr);
// The value of a Delimiters object, or null (no exception) for anything else.
const zarvi_core::Delimiters* delimiters_value(PyObject* object);

// Module functions' definitions, also from their own files.
extern PyMethodDef kExternalDiagnosticDef;
extern PyMethodDef kParseDef;
extern PyMethodDef kLoopPathsDef;
extern PyMethodDef kStreamDef;
extern PyMethodDef kWriteDef;

// Makers of the module's constants (new references).
Ref edi_835_parser_patch_row(PyObject* module);

}  // namespace zarvi_py
