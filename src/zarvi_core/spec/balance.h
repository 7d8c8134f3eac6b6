// Balancing rules of a spec. For now only the text of a scaled amount, which
// diagnostics and decimal columns print with.
#pragma once

#include <cstdint>
#include <string>

#include "zarvi_core/int128.h"

namespace zarvi_core::spec {

// The decimal text of `value` scaled by 10^scale: "-" when negative, the
// magnitude's digits padded with zeros to at least scale + 1 digits, and "."
// before the last `scale` digits when scale > 0. 5 at scale 2 is "0.05".
std::string render_amount(i128 value, uint8_t scale);
void append_amount(std::string& out, i128 value, uint8_t scale);

}  // namespace zarvi_core::spec
