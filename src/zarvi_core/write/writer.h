// The core writer: one spec and a set of typed tables in, the bytes of one
// interchange and every finding out, or one refusal. The spec, tables and
// envelope are borrowed for the call only; the result owns its data.
#pragma once

#include <string>
#include <vector>

#include "zarvi_core/column/table.h"
#include "zarvi_core/result.h"
#include "zarvi_core/spec/spec.h"
#include "zarvi_core/write/envelope.h"
#include "zarvi_core/write/finding.h"

namespace zarvi_core::write::writer {

struct Written {
  std::string bytes;
  std::vector<finding::Finding> findings;
};

Result<Written, finding::WriteError> write_with_findings(const spec::Spec& spec,
                                                         const column::Tables& tables,
                                                         const envelope::Envelope& envelope);

}  // namespace zarvi_core::write::writer
