#include "zarvi_core/project/plan.h"

namespace zarvi_core::project {

column::ColumnType column_type_of(spec::ElementType type) {
  using K = spec::ElementType::Kind;
  switch (type.kind) {
    case K::AN:
    case K::ID:
      return column::ColumnType::binary();
    case K::N:
      return column::ColumnType::int64(type.scale);
    case K::R:
      return column::ColumnType::decimal128(38, type.scale);
    case K::DT:
      return column::ColumnType::date32();
    case K::TM:
      return column::ColumnType::time32();
  }
  return column::ColumnType::binary();
}

ElementPlan::ElementPlan(uint64_t pos, const spec::ElementDef& d)
    : position(pos), def(&d), type(column_type_of(d.type)) {
  if (!d.composite) return;
  for (const auto& [c, component] : *d.composite) {
    components.push_back(ComponentPlan{c, &component, column_type_of(component.type), false});
    if (c > declared_components) declared_components = c;
  }
}

std::optional<uint64_t> Plans::short_key(std::string_view id) {
  if (id.size() >= 8) return std::nullopt;
  uint64_t key = 1;
  for (unsigned char c : id) key = (key << 8) | c;
  return key;
}

Plans::Plans(const spec::Spec& spec) {
  const size_t loops = spec.loops.size();
  for (const auto& [id, def] : spec.segments) {
    SegmentPlan& plan = entry(id, loops);
    for (const auto& [position, element] : def.elements) plan.elements.emplace_back(position, element);
  }
  for (LoopId l = 0; l < loops; ++l) {
    const auto& occurrences = spec.loops[l].occurrences;
    for (size_t k = 0; k < occurrences.size(); ++k) {
      const spec::OccurrenceDef& occ = occurrences[k];
      entry(occ.segment, loops)
          .candidates[l]
          .push_back(Candidate{k, occ.qualifier ? &*occ.qualifier : nullptr});
    }
  }
}

const SegmentPlan* Plans::get(std::string_view id) const {
  if (auto key = short_key(id)) {
    auto it = short_.find(*key);
    return it == short_.end() ? nullptr : &it->second;
  }
  auto it = long_.find(id);
  return it == long_.end() ? nullptr : &it->second;
}

SegmentPlan& Plans::entry(std::string_view id, size_t loop_count) {
  SegmentPlan* plan;
  if (auto key = short_key(id))
    plan = &short_[*key];
  else
    plan = &long_.try_emplace(std::string(id)).first->second;
  if (plan->candidates.size() < loop_count) plan->candidates.resize(loop_count);
  return *plan;
}

}  // namespace zarvi_core::project
