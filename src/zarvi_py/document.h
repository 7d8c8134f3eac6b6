// The Document and Segment classes and the indexing step of a parse. A
// Document object owns its bytes; a Segment object keeps its Document alive.
#pragma once

#include <optional>
#include <string>

#include "zarvi_core/delimiters.h"
#include "zarvi_core/document.h"
#include "zarvi_core/result.h"
#include "zarvi_py/ref.h"

namespace zarvi_py {

// Indexes an owned input: with delimiters the ISA header is not read (and
// the size limit is checked first); without, they come from the header.
// The error is the core message for ParseError. Needs no interpreter lock.
zarvi_core::Result<zarvi_core::Document, std::string> index_input(
    std::string input, const std::optional<zarvi_core::Delimiters>& delimiters);

// A new Document object holding the document.
Ref new_document(zarvi_core::Document document);

// The document of a Document object; null (no exception) for anything else.
const zarvi_core::Document* document_of(PyObject* object);

}  // namespace zarvi_py
