// The Document and Segment classes and the indexing step of a parse. A
// Document object owns its bytes or holds the bytes object it borrows them
// from; a Segment object keeps its Document alive.
#pragma once

#include <optional>
#include <string>

#include "zarvi_core/delimiters.h"
#include "zarvi_core/document.h"
#include "zarvi_core/result.h"
#include "zarvi_py/native.h"
#include "zarvi_py/ref.h"

namespace zarvi_py {

// Indexes the input, borrowing its bytes or taking over its copy: with
// delimiters the ISA header is not read (and the size limit is checked
// first); without, they come from the header. The error is the core message
// for ParseError. Needs no interpreter lock (input.keep stays untouched).
zarvi_core::Result<zarvi_core::Document, std::string> index_input(
    Input& input, const std::optional<zarvi_core::Delimiters>& delimiters);

// A new Document object holding the document and `keep`, the bytes object a
// borrowing document reads (empty when it owns its bytes).
Ref new_document(zarvi_core::Document document, Ref keep);

// The document of a Document object; null (no exception) for anything else.
const zarvi_core::Document* document_of(PyObject* object);

}  // namespace zarvi_py
