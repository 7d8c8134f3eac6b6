#include "zarvi_core/write/plan.h"

#include "zarvi_core/write/build.h"

namespace zarvi_core::write::plan {

Planned WritePlan::make(const spec::Spec& spec) {
  build::Builder b(spec);
  b.envelope();
  b.anchor();
  for (std::size_t t = 0; t < spec.tables.size(); ++t) {
    if (spec.tables[t].segment) b.repeat_table(t);
    else b.loop_table(t);
  }
  b.segments();
  b.implied();
  b.repeats_placed();
  b.required();
  b.sort();
  return std::move(b).finish();
}

}  // namespace zarvi_core::write::plan
