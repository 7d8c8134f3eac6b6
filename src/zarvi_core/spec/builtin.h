// The built-in 835 specs: the embedded JSON texts, and the two compiled
// specs in once-initialised process-wide cells that every user shares.
#pragma once

#include <optional>
#include <string_view>

#include "zarvi_core/spec/spec.h"
#include "zarvi_core/spec/version.h"

namespace zarvi_core::spec {

// The embedded texts; static storage, never freed.
std::string_view builtin_835_text();             // the 5010 spec
std::string_view builtin_835_4010_patch_text();  // turns it into the 4010 spec
std::string_view edi_835_parser_patch_text();    // "edi_835_parser"; ends with a newline

// Compiled on the first call, then shared. The texts always compile, so an
// error here is a defect of the program; it is returned, never raised.
const Compiled& shared_builtin_835();
const Compiled& shared_builtin_835_4010();

// The version the 4010 spec declares, read from the two texts without
// compiling it (once, then shared); null if they cannot be read that way.
const std::optional<DeclaredVersion>* builtin_835_4010_version();

// The built-in chosen by the version the segments declare: candidates 5010
// then 4010, and 5010 when neither is decided. The 4010 spec is compiled
// only when it is chosen.
Compiled select_builtin(const NextSegment& next);

}  // namespace zarvi_core::spec
