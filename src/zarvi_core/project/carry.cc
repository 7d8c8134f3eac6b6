#include "zarvi_core/project/carry.h"

#include "zarvi_core/saturating.h"

namespace zarvi_core::project::carry {

uint64_t Held::count_pick() {
  saturating_increment(picks_);
  return picks_;
}

}  // namespace zarvi_core::project::carry
