#include "zarvi_core/project/carry.h"

#include <limits>

namespace zarvi_core::project::carry {

uint64_t Held::count_pick() {
  if (picks_ != std::numeric_limits<uint64_t>::max()) ++picks_;
  return picks_;
}

}  // namespace zarvi_core::project::carry
