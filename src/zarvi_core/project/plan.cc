#include "zarvi_core/project/plan.h"

#include <algorithm>
#include <bit>
#include <map>
#include <variant>

namespace zarvi_core::project::plan {

namespace {

// The item of a list in position order at `position`, or null: a lookup,
// not a scan, for each of a spec's many columns and terms.
template <class T>
T* at_position(std::vector<T>& items, uint64_t position) {
  const auto it = std::lower_bound(items.begin(), items.end(), position,
                                   [](const T& item, uint64_t p) { return item.position < p; });
  return it != items.end() && it->position == position ? &*it : nullptr;
}

}  // namespace

column::ColumnType column_type_of(ElementType type) {
  using K = ElementType::Kind;
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

CodeSet::CodeSet(const std::vector<std::string>& codes, const std::string* occurrence)
    : none_(codes.empty()), codes_(&codes), occurrence_(occurrence) {
  for (const std::string& code : codes)
    packable_ = packable_ && code.size() <= id_table::kShortBytes;
  if (!packable_) return;
  few_ = codes.size() <= kInline;
  if (few_) {
    for (size_t i = 0; i < codes.size(); ++i) inline_[i] = id_table::short_key(codes[i]);
    return;
  }
  packed_ = id_table::KeySet(codes.size());
  for (const std::string& code : codes) packed_.insert(id_table::short_key(code), {});
}

bool CodeSet::contains_other(std::string_view text) const {
  // A long text is in no list of short codes.
  return !packable_ && std::binary_search(codes_->begin(), codes_->end(), text);
}

size_t first_match(std::span<const Candidate> candidates, const Segment& segment) {
  for (size_t i = 0; i < candidates.size(); ++i)
    if (candidates[i].matches(segment)) return i;
  return kNoCandidate;
}

Chooser::Chooser(std::span<const Candidate> candidates) {
  auto choice = [](const Candidate& c) { return Choice{c.occurrence, c.slot}; };
  size_t end = 0;
  while (end < candidates.size() && candidates[end].qualifier_codes != nullptr) ++end;
  if (end < candidates.size()) {
    has_fallback_ = true;
    fallback_ = choice(candidates[end]);
  }
  size_t codes = 0;
  for (size_t i = 0; i < end; ++i) {
    const Candidate& c = candidates[i];
    bool place = c.element == candidates[0].element && c.component == candidates[0].component;
    for (const std::string& code : c.qualifier_codes->codes()) {
      place = place && code.size() <= id_table::kShortBytes;
      ++codes;
    }
    if (!place) {
      candidates_.assign(candidates.begin(), candidates.end());
      for (const Candidate& k : candidates_) choices_.push_back(choice(k));
      return;
    }
  }
  direct_ = true;
  keys_ = codes > 0;
  if (!keys_) return;
  element_ = candidates[0].element;
  component_ = candidates[0].component;
  first_ = id_table::Table<Choice>(codes);
  for (size_t i = 0; i < end; ++i)
    for (const std::string& code : candidates[i].qualifier_codes->codes()) {
      const uint64_t key = id_table::short_key(code);
      if (first_.find(key) == nullptr) first_.insert(key, choice(candidates[i]));
    }
}

namespace {

ValuePlan value_plan(const spec::ElementDef& def) {
  ValuePlan plan;
  plan.def = &def;
  plan.type = column_type_of(def.type);
  plan.required = def.required;
  plan.min_length = def.min.value_or(0);
  plan.max_length = def.max.value_or(UINT64_MAX);
  return plan;
}

}  // namespace

ElementPlan::ElementPlan(uint64_t pos, const spec::ElementDef& d)
    : position(pos), composite(d.composite.has_value()), value(value_plan(d)) {
  if (!d.composite) return;
  for (const auto& [c, component] : *d.composite) {
    components.push_back(ComponentPlan{c, value_plan(component)});
    if (c > declared_components) declared_components = c;
    if (component.required) required_components_end = components.size();
  }
}

Plans::Plans(const spec::Spec& spec) {
  const size_t loops = spec.loops.size();
  for (const auto& [id, def] : spec.segments) {
    SegmentPlan& plan = entry(id);
    for (const auto& [position, element] : def.elements) {
      plan.elements.emplace_back(position, element);
      if (element.required) plan.required_end = plan.elements.size();
    }
  }
  for (LoopId l = 0; l < loops; ++l) {
    const auto& occurrences = spec.loops[l].occurrences;
    for (size_t k = 0; k < occurrences.size(); ++k) {
      const spec::OccurrenceDef& occ = occurrences[k];
      SegmentPlan& plan = entry(occ.segment);
      Candidate candidate{k, nullptr, plan.slots++, 0, std::nullopt};
      if (occ.qualifier) {
        candidate.qualifier_codes = code_set(occ.qualifier->codes, nullptr);
        candidate.element = occ.qualifier->element;
        candidate.component = occ.qualifier->component;
      }
      plan.loops[l].candidates.push_back(candidate);
    }
  }
  for (auto& [key, plan] : short_) pack_codes(spec, plan);
  for (auto& [id, plan] : long_) pack_codes(spec, plan);
  auto choosers = [](SegmentPlan& plan) {
    for (auto& [loop, in] : plan.loops) in.chooser = Chooser(in.candidates);
  };
  for (auto& [key, plan] : short_) choosers(plan);
  for (auto& [id, plan] : long_) choosers(plan);
}

const CodeSet* Plans::code_set(const std::vector<std::string>& codes,
                               const std::string* occurrence) {
  return &code_sets_.emplace_back(codes, occurrence);
}

void Plans::pack_codes(const spec::Spec& spec, SegmentPlan& plan) {
  auto own = [&](ValuePlan& value) {
    if (!value.def->codes.empty()) value.codes = code_set(value.def->codes, nullptr);
    value.listed = value.codes != nullptr;
  };
  for (ElementPlan& element : plan.elements) {
    own(element.value);
    for (ComponentPlan& c : element.components) own(c.value);
  }
  // An occurrence's list for an element replaces the element's own there; a
  // place names a simple element, or a component of a composite.
  for (const auto& [l, in] : plan.loops) {
    for (const Candidate& candidate : in.candidates) {
      const spec::OccurrenceDef& occ = spec.loops[l].occurrences[candidate.occurrence];
      for (const auto& [place, codes] : occ.codes) {
        ElementPlan* element = at_position(plan.elements, place.element);
        if (element == nullptr) continue;
        ValuePlan* value = nullptr;
        if (!place.component && !element->value.def->composite) value = &element->value;
        if (place.component)
          if (ComponentPlan* c = at_position(element->components, *place.component))
            value = &c->value;
        if (value == nullptr) continue;
        value->occurrence_codes.emplace_back(candidate.slot, code_set(codes, &occ.name));
        value->listed = true;
      }
    }
  }
  // A segment matches a qualified occurrence only when the qualifier's
  // value is one of its codes: where that list is within the one that
  // applies, the value needs no lookup there.
  auto settle = [&](ValuePlan& value, uint64_t position, std::optional<uint64_t> component) {
    if (!value.listed) return;
    value.unchecked.assign(plan.slots, nullptr);
    for (const auto& [loop, in] : plan.loops) {
      for (const Candidate& c : in.candidates) {
        const CodeSet* list = value.codes_in(c.slot);
        const bool reads = c.qualifier_codes != nullptr && c.element == position &&
                           c.component.value_or(1) == component.value_or(1);
        if (list != nullptr && reads &&
            std::all_of(c.qualifier_codes->codes().begin(), c.qualifier_codes->codes().end(),
                        [&](const std::string& code) { return list->admits(code); }))
          list = nullptr;
        value.unchecked[c.slot] = list;
      }
    }
    value.listed = value.codes != nullptr ||
                   std::any_of(value.unchecked.begin(), value.unchecked.end(),
                               [](const CodeSet* list) { return list != nullptr; });
    // A value whose list is its own in every occurrence needs no per-slot
    // load to find it.
    if (std::all_of(value.unchecked.begin(), value.unchecked.end(),
                    [&](const CodeSet* list) { return list == value.codes; }))
      value.unchecked.clear();
  };
  for (ElementPlan& element : plan.elements) {
    if (!element.composite) settle(element.value, element.position, std::nullopt);
    for (ComponentPlan& c : element.components) settle(c.value, element.position, c.position);
  }
}

bool Plans::add_segment_table(std::string_view id, LoopId loop, size_t t) {
  SegmentPlan* plan = find(id);
  if (plan == nullptr) return false;
  plan->loops[loop].segment_tables.push_back(t);
  return true;
}

void Plans::index_placed() {
  size_t pairs = 0;
  auto each_pair = [&](auto&& f) {
    for (const auto& [key, plan] : short_)
      for (const auto& [l, in] : plan.loops)
        if (l < kPlacedLoops && !in.candidates.empty()) f(key, l, plan, in);
  };
  each_pair([&](uint64_t, LoopId, const SegmentPlan&, const InLoop&) { ++pairs; });
  placed_ = id_table::Table<Placed>(pairs);
  each_pair([&](uint64_t key, LoopId l, const SegmentPlan& plan, const InLoop& in) {
    placed_.insert(key | uint64_t{l} << kLoopShift,
                   Placed{in.chooser, &plan, &in, in.segment_tables});
  });
}

SegmentPlan* Plans::find(std::string_view id) {
  if (id.size() <= id_table::kShortBytes) {
    auto it = short_.find(id_table::short_key(id));
    return it == short_.end() ? nullptr : &it->second;
  }
  auto it = long_.find(id);
  return it == long_.end() ? nullptr : &it->second;
}

const SegmentPlan* Plans::get_long(std::string_view id) const {
  return const_cast<Plans*>(this)->find(id);
}

void Plans::index_short(uint64_t key, SegmentPlan* plan) {
  if (short_.size() <= index_room_) {
    index_.insert(key, plan);
    return;
  }
  index_room_ = 2 * short_.size();
  index_ = id_table::Table<SegmentPlan*>(index_room_);
  for (auto& [k, p] : short_) index_.insert(k, &p);
}

SegmentPlan& Plans::entry(std::string_view id) {
  SegmentPlan* plan;
  if (id.size() <= id_table::kShortBytes) {
    const uint64_t key = id_table::short_key(id);
    const auto [at, fresh] = short_.try_emplace(key);
    plan = &at->second;
    if (fresh) index_short(key, plan);
  } else
    plan = &long_.try_emplace(std::string(id)).first->second;
  return *plan;
}

std::vector<std::pair<std::string, column::ColumnType>> table_columns(
    const spec::Spec& spec, const spec::TableDef& table) {
  std::vector<std::pair<std::string, column::ColumnType>> out;
  out.emplace_back("row", column::ColumnType::int64());
  out.emplace_back("segment", column::ColumnType::int64());
  for (size_t t : table.chain)
    if (t < spec.tables.size()) out.emplace_back(spec.tables[t].ref, column::ColumnType::int64());
  for (const auto& [name, source] : table.columns)
    out.emplace_back(name, column_type(spec, table, source));
  return out;
}

column::ColumnType column_type(const spec::Spec& spec, const spec::TableDef& table,
                               const spec::ColumnSource& source) {
  const spec::ElementDef* def = nullptr;
  if (std::holds_alternative<spec::SegmentIndexSource>(source)) {
    return column::ColumnType::int64();
  } else if (const auto* e = std::get_if<spec::ElementSource>(&source)) {
    def = spec.element_def(e->segment, e->element, e->component);
  } else if (const auto* g = std::get_if<spec::GroupElementSource>(&source)) {
    uint64_t position;
    if (table.segment && table.repeat &&
        !__builtin_add_overflow(table.repeat->from, g->offset, &position))
      def = spec.element_def(*table.segment, position, g->component);
  }
  return def != nullptr ? column_type_of(def->type) : column::ColumnType::binary();
}

namespace {

// What an element or segment-index column selects its segment by.
struct Selector {
  const std::optional<LoopId>& loop;
  const std::string& segment;
  const std::optional<std::string>& occurrence;
  const spec::Pick& pick;

  template <class Source>
  static Selector of(const Source& s) {
    return Selector{s.loop, s.segment, s.occurrence, s.pick};
  }
};

}  // namespace

std::vector<carry::Carried> Plans::watch_columns(const spec::Spec& spec,
                                                 const spec::LoopIndex& index, size_t t,
                                                 CarryRegistrations& carries) {
  std::vector<carry::Carried> carried;
  const spec::TableDef& table = spec.tables[t];
  // The anchors' places in the walk of the loops, in order: a column's loop
  // encloses an anchor when its span holds one of them.
  std::vector<size_t> anchor_places;
  for (LoopId anchor : table.loops) anchor_places.push_back(index.place(anchor));
  std::sort(anchor_places.begin(), anchor_places.end());
  for (size_t c = 0; c < table.columns.size(); ++c) {
    const spec::ColumnSource& column = table.columns[c].second;
    if (std::holds_alternative<spec::GroupElementSource>(column)) continue;
    // Element and segment-index sources share what selects the segment.
    const Selector source = std::holds_alternative<spec::ElementSource>(column)
                             ? Selector::of(std::get<spec::ElementSource>(column))
                             : Selector::of(std::get<spec::SegmentIndexSource>(column));
    std::optional<size_t> carried_index;
    if (source.loop) {
      // Carried when the column's loop encloses an anchor loop.
      const auto inside =
          std::upper_bound(anchor_places.begin(), anchor_places.end(), index.place(*source.loop));
      if (inside != anchor_places.end() && *inside < index.end(*source.loop)) {
        carried_index = carried.size();
        carried.push_back(carry::Carried{c, {}});
        carries[*source.loop].emplace_back(t, *carried_index);
      }
    }
    Watcher w;
    w.table = t;
    w.column = c;
    w.pick = source.pick;
    w.carried = carried_index;
    w.type = column_type(spec, table, column);
    if (const auto* e = std::get_if<spec::ElementSource>(&column)) {
      w.element = e->element;
      w.component = e->component;
      w.where = e->where;
    } else {
      w.index = true;
      w.where = std::get<spec::SegmentIndexSource>(column).where;
    }
    auto watch = [&](LoopId loop) {
      SegmentPlan& plan = entry(source.segment);
      if (!source.occurrence) {
        plan.loops[loop].watchers.push_back(w);
        plan.feeds = true;
        return;
      }
      // The first occurrence of that name; it feeds the column only when
      // the segment is placed as it, so only as a candidate of this plan.
      const std::optional<size_t> k = index.occurrence(loop, *source.occurrence);
      const InLoop* in = plan.in(loop);
      if (!k || in == nullptr) return;
      // Candidates are in occurrence order, one per occurrence.
      const auto candidate = std::lower_bound(
          in->candidates.begin(), in->candidates.end(), *k,
          [](const Candidate& x, size_t occurrence) { return x.occurrence < occurrence; });
      if (candidate == in->candidates.end() || candidate->occurrence != *k) return;
      if (plan.occurrence_watchers.size() < plan.slots) plan.occurrence_watchers.resize(plan.slots);
      Watcher named = w;
      named.where = {};
      plan.occurrence_watchers[candidate->slot].push_back(named);
      plan.feeds = true;
    };
    if (source.loop)
      watch(*source.loop);
    else
      for (LoopId anchor : table.loops) watch(anchor);
  }
  return carried;
}


void Plans::mark_columns(const spec::TableDef& table) {
  // Repeat groups by the first position each column reads: one pass over
  // the segment's elements marks them all.
  std::map<uint64_t, uint64_t> groups;  // first position % step (or itself) -> the least first
  for (const auto& [name, column] : table.columns) {
    if (const auto* g = std::get_if<spec::GroupElementSource>(&column)) {
      uint64_t first;
      if (!table.segment || !table.repeat || g->component ||
          __builtin_add_overflow(table.repeat->from, g->offset, &first))
        continue;
      const uint64_t step = table.repeat->step;
      const auto [at, fresh] = groups.try_emplace(step == 0 ? first : first % step, first);
      if (!fresh) at->second = std::min(at->second, first);
      continue;
    }
    const auto* source = std::get_if<spec::ElementSource>(&column);
    if (source == nullptr) continue;
    SegmentPlan* plan = find(source->segment);
    if (plan == nullptr) continue;
    ElementPlan* element = at_position(plan->elements, source->element);
    if (element == nullptr) continue;
    if (!source->component) {
      element->value.read = true;
    } else if (ComponentPlan* c = at_position(element->components, *source->component)) {
      c->value.read = true;
    }
  }
  if (groups.empty()) return;
  SegmentPlan* plan = find(*table.segment);
  if (plan == nullptr) return;
  const uint64_t step = table.repeat->step;
  for (ElementPlan& element : plan->elements) {
    const auto group = groups.find(step == 0 ? element.position : element.position % step);
    if (group != groups.end() && element.position >= group->second) element.value.read = true;
  }
}

void Plans::mark_balanced(const spec::Spec& spec) {
  for (const spec::BalanceRule& rule : spec.balancing) {
    for (const auto* terms : {&rule.target, &rule.sum}) {
      for (const spec::BalanceTerm& term : *terms) {
        if (term.component.value_or(1) != 1 || term.loop >= spec.loops.size()) continue;
        const spec::LoopDef& loop = spec.loops[term.loop];
        if (term.occurrence >= loop.occurrences.size()) continue;
        SegmentPlan* plan = find(loop.occurrences[term.occurrence].segment);
        if (plan == nullptr) continue;
        for (uint64_t position : term.elements)
          if (ElementPlan* element = at_position(plan->elements, position))
            element->value.read = true;
      }
    }
  }
}

}  // namespace zarvi_core::project::plan
