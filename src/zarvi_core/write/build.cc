#include "zarvi_core/write/build.h"

#include <algorithm>
#include <limits>
#include <numeric>
#include <set>
#include <tuple>

#include "zarvi_core/never_destroyed.h"
#include "zarvi_core/spec/render.h"
#include "zarvi_core/text.h"

namespace zarvi_core::write::build {

using plan::ColumnValue;
using plan::Constant;
using plan::ElementPlan;
using plan::LoopPlan;
using plan::RepeatedValue;
using plan::Role;
using plan::SegmentPlan;
using plan::Source;
using refusal::place;
using refusal::Refusal;
using spec::Condition;
using spec::OccurrenceDef;

namespace {

// Whether the occurrence is read by `conditions`, its own codes and
// qualifier considered (the element's code list is not).
bool passes(const OccurrenceDef& occ, std::string_view segment,
            std::span<const Condition> conditions) {
  if (occ.segment != segment) return false;
  for (const Condition& c : conditions) {
    const auto& q = occ.qualifier;
    if (q && !q->component && q->element == c.position && !q->accepts(c.value)) return false;
    if (auto it = occ.codes.find(spec::CodePlace{c.position, std::nullopt});
        it != occ.codes.end() &&
        !std::binary_search(it->second.begin(), it->second.end(), c.value)) {
      return false;
    }
  }
  return true;
}

// The qualifier's one code when it has exactly one and sits on an element.
const spec::Qualifier* single_element_qualifier(const OccurrenceDef& occ) {
  const auto& q = occ.qualifier;
  return q && !q->component && q->codes.size() == 1 ? &*q : nullptr;
}

ElementPlan* find_place(SegmentPlan& plan, uint64_t element, std::optional<uint64_t> component) {
  for (ElementPlan& e : plan.elements) {
    if (e.element == element && e.component == component) return &e;
  }
  return nullptr;
}

std::optional<std::size_t> trigger_index(const spec::LoopDef& loop) {
  const OccurrenceDef* t = spec::trigger_occurrence(loop.occurrences, loop.trigger);
  if (t == nullptr) return std::nullopt;
  return static_cast<std::size_t>(t - loop.occurrences.data());
}

// The code list of a place: the occurrence's own for it when it lists some,
// else the element definition's (empty: any code).
const std::vector<std::string>& place_codes(const OccurrenceDef& occ, uint64_t element,
                                            std::optional<uint64_t> component,
                                            const std::vector<std::string>& def_codes) {
  if (auto it = occ.codes.find(spec::CodePlace{element, component});
      it != occ.codes.end() && !it->second.empty()) {
    return it->second;
  }
  return def_codes;
}

// Never destroyed: a write may still run on another thread while exit()
// destroys statics.
const NeverDestroyed<std::vector<std::string>> kNoCodes;

}  // namespace

OccurrenceIndex::OccurrenceIndex(const spec::LoopDef& loop)
    : loop_(&loop), trigger_(trigger_index(loop)) {
  const auto& occurrences = loop.occurrences;
  if (occurrences.size() <= kPassed) return;
  segments_.reserve(occurrences.size());
  for (std::size_t i = 0; i < occurrences.size(); ++i) {
    const OccurrenceDef& occ = occurrences[i];
    const auto& q = occ.qualifier;
    // A qualifier on a component rules nothing out: a condition names an
    // element.
    const std::optional<uint64_t> element =
        q && !q->component ? std::optional<uint64_t>(q->element) : std::nullopt;
    segments_.push_back({occ.segment, element, i});
    if (element) {
      for (const std::string& code : q->codes) codes_.push_back({occ.segment, *element, code, i});
    }
  }
  std::sort(segments_.begin(), segments_.end(), [](const Qualified& a, const Qualified& b) {
    const int c = a.segment.compare(b.segment);
    if (c != 0) return c < 0;
    return std::pair(a.element, a.occurrence) < std::pair(b.element, b.occurrence);
  });
  std::sort(codes_.begin(), codes_.end(), [](const Coded& a, const Coded& b) {
    if (const int c = a.segment.compare(b.segment); c != 0) return c < 0;
    if (a.element != b.element) return a.element < b.element;
    if (const int c = a.code.compare(b.code); c != 0) return c < 0;
    return a.occurrence < b.occurrence;
  });
}

void OccurrenceIndex::candidates(std::string_view segment, std::span<const Condition> conditions,
                                 std::vector<std::size_t>& out) const {
  const auto& occurrences = loop_->occurrences;
  if (occurrences.size() <= kPassed) {
    for (std::size_t i = 0; i < occurrences.size(); ++i) {
      if (occurrences[i].segment == segment) out.push_back(i);
    }
    return;
  }
  const std::size_t start = out.size();
  auto it = std::lower_bound(segments_.begin(), segments_.end(), segment,
                             [](const Qualified& q, std::string_view s) { return q.segment < s; });
  // One run per qualifier element: taken whole unless a condition names
  // that element, then only the occurrences whose qualifier holds its code.
  while (it != segments_.end() && it->segment == segment) {
    const std::optional<uint64_t> element = it->element;
    const auto end = std::partition_point(it, segments_.end(), [&](const Qualified& q) {
      return q.segment == segment && q.element == element;
    });
    // Conditions come sorted by position; were they not, a missed one would
    // only take the run whole.
    const auto c = element ? std::lower_bound(conditions.begin(), conditions.end(), *element,
                                              [](const Condition& x, uint64_t p) {
                                                return x.position < p;
                                              })
                           : conditions.end();
    if (c == conditions.end() || c->position != *element) {
      for (; it != end; ++it) out.push_back(it->occurrence);
      continue;
    }
    using CodeKey = std::tuple<std::string_view, uint64_t, std::string_view>;
    const CodeKey key(segment, *element, c->value);
    auto of = [](const Coded& x) { return CodeKey(x.segment, x.element, x.code); };
    auto k = std::lower_bound(codes_.begin(), codes_.end(), key,
                              [&](const Coded& x, const CodeKey& v) { return of(x) < v; });
    for (; k != codes_.end() && of(*k) == key; ++k) out.push_back(k->occurrence);
    it = end;
  }
  std::sort(out.begin() + static_cast<std::ptrdiff_t>(start), out.end());
}

Resolution resolve(const spec::Spec& spec, const spec::LoopDef& loop, const OccurrenceIndex& index,
                   std::string_view segment, std::span<const Condition> conditions) {
  std::vector<std::size_t> matches;
  index.candidates(segment, conditions, matches);
  std::erase_if(matches, [&](std::size_t i) {
    return !passes(loop.occurrences[i], segment, conditions);
  });
  // A code its element's own list rejects rules out every occurrence alike:
  // a match would be one no valid file holds.
  for (const Condition& c : conditions) {
    const spec::ElementDef* def = spec::find_element(spec.segments, segment, c.position, {});
    if (def == nullptr || !def->rejects_code(c.value)) continue;
    if (matches.empty()) return Unmatched{};
    return NeverValid{place(segment, c.position), c.value, def->codes};
  }
  if (matches.size() == 1) {
    const OccurrenceDef& occ = loop.occurrences[matches.front()];
    Resolved out{matches.front(), {}};
    const spec::Qualifier* q = single_element_qualifier(occ);
    for (const Condition& c : conditions) {
      if (q == nullptr || c.position != q->element) out.codes.push_back(c);
    }
    return out;
  }
  Unmatched out;
  if (matches.size() > 1) {
    for (std::size_t i : matches) out.names.push_back(loop.occurrences[i].name);
  }
  return out;
}

Builder::Builder(const spec::Spec& spec)
    : spec_(spec),
      loop_index_(spec.loops, spec.roots),
      loops_(spec.loops.size()),
      refused_(spec.tables.size(), false) {}

const std::string& Builder::column_name(std::size_t table, std::size_t column) const {
  return spec_.tables[table].columns[column].first;
}

const OccurrenceIndex& Builder::occurrences(LoopId loop) {
  if (indexes_.empty()) indexes_.resize(spec_.loops.size());
  std::optional<OccurrenceIndex>& index = indexes_[loop];
  if (!index) index.emplace(spec_.loops[loop]);
  return *index;
}

void Builder::envelope() {
  for (LoopId l = 0; l < spec_.loops.size(); ++l) {
    const spec::LoopDef& loop = spec_.loops[l];
    if (!loop.control) continue;
    loops_[l].role = Role::Envelope;
    if (auto t = trigger_index(loop)) {
      loops_[l].segments.push_back(SegmentPlan{Source::Envelope, 0, *t, {}});
    }
  }
}

void Builder::anchor() {
  for (std::size_t t = 0; t < spec_.tables.size(); ++t) {
    const spec::TableDef& table = spec_.tables[t];
    if (table.segment || table.loops.empty()) continue;
    if (table.loops.size() >= 2) {
      std::vector<std::string> names;
      for (LoopId l : table.loops) names.push_back(spec_.loops[l].name);
      refusals_.push_back(Refusal::many_anchor_loops(table.name, std::move(names)));
      refused_[t] = true;
      continue;
    }
    const LoopId l = table.loops.front();
    LoopPlan& lp = loops_[l];
    if (lp.role == Role::Rows && lp.table && *lp.table != t) {
      refusals_.push_back(Refusal::loop_anchored_twice(table.name, spec_.loops[l].name,
                                                       spec_.tables[*lp.table].name));
      refused_[t] = true;
      continue;
    }
    lp.role = Role::Rows;
    lp.table = t;
  }
}

void Builder::loop_table(std::size_t t) {
  if (refused_[t] || spec_.tables[t].loops.empty()) return;
  const spec::TableDef& table = spec_.tables[t];
  const LoopId anchor = table.loops.front();
  for (std::size_t c = 0; c < table.columns.size(); ++c) {
    const auto* source = std::get_if<spec::ElementSource>(&table.columns[c].second);
    if (source == nullptr) continue;
    const std::string& name = table.columns[c].first;
    const LoopId l = source->loop.value_or(anchor);
    const spec::LoopDef& loop = spec_.loops[l];

    std::size_t o = 0;
    std::vector<Condition> codes;
    if (source->occurrence) {
      auto found = loop_index_.occurrence(l, *source->occurrence);
      if (!found) {
        refusals_.push_back(Refusal::unmatched_source(
            table.name, name, spec::quote_name(*source->occurrence), loop.name, {}));
        continue;
      }
      o = *found;
    } else {
      Resolution r = resolve(spec_, loop, occurrences(l), source->segment, source->where);
      if (auto* u = std::get_if<Unmatched>(&r)) {
        refusals_.push_back(Refusal::unmatched_source(table.name, name,
                                                      refusal::render_source(source->segment,
                                                                             source->where),
                                                      loop.name, std::move(u->names)));
        continue;
      }
      if (auto* n = std::get_if<NeverValid>(&r)) {
        unwritten_.push_back(plan::Unwritten{std::move(n->place), std::move(n->code),
                                             std::move(n->codes), t, c});
        continue;
      }
      auto& resolved = std::get<Resolved>(r);
      o = resolved.occurrence;
      codes = std::move(resolved.codes);
    }

    if (loop.control && occurrences(l).trigger() == o) {
      refusals_.push_back(Refusal::envelope_occurrence_read(table.name, name,
                                                            loop.occurrences[o].name, loop.name));
      continue;
    }

    if (source->loop) {
      const Role claim = loop_index_.encloses(l, anchor) ? Role::ReadAbove : Role::ReadBy;
      LoopPlan& lp = loops_[l];
      if (lp.role == Role::NotWritten || lp.role == Role::Implied) {
        lp.role = claim;
        lp.table = t;
      } else if (lp.role == Role::Envelope) {
        refusals_.push_back(Refusal::loop_read_twice(table.name, name, loop.name, "the envelope"));
        continue;
      } else if (lp.role != claim || lp.table != t) {
        const std::string& other = lp.table ? spec_.tables[*lp.table].name : table.name;
        refusals_.push_back(Refusal::loop_read_twice(table.name, name, loop.name,
                                                     "table " + spec::quote_name(other)));
        continue;
      }
    }

    entries_[Key{l, o, t, std::move(codes)}].push_back(
        Entry{source->element, source->component, source->pick, t, c});
  }
}

void Builder::repeat_table(std::size_t t) {
  const spec::TableDef& table = spec_.tables[t];
  if (!table.segment) return;
  const std::string& segment = *table.segment;
  const uint64_t from = table.repeat ? table.repeat->from : 1;
  for (LoopId l : table.loops) {
    repeats_.emplace_back(t, l);
    const spec::LoopDef& loop = spec_.loops[l];
    Resolution r = resolve(spec_, loop, occurrences(l), segment, {});
    const auto* resolved = std::get_if<Resolved>(&r);
    if (resolved == nullptr) {
      auto* u = std::get_if<Unmatched>(&r);
      refusals_.push_back(Refusal::unmatched_source(
          table.name, std::nullopt, refusal::render_source(segment, {}), loop.name,
          u != nullptr ? std::move(u->names) : std::vector<std::string>{}));
      continue;
    }
    SegmentPlan plan{Source::Repeated, t, resolved->occurrence, {}};
    for (std::size_t c = 0; c < table.columns.size(); ++c) {
      const spec::ColumnSource& source = table.columns[c].second;
      if (const auto* e = std::get_if<spec::ElementSource>(&source)) {
        plan.elements.push_back(ElementPlan{e->element, e->component, ColumnValue{c}});
      } else if (const auto* g = std::get_if<spec::GroupElementSource>(&source)) {
        const uint64_t element = g->offset > std::numeric_limits<uint64_t>::max() - from
                                     ? std::numeric_limits<uint64_t>::max()
                                     : from + g->offset;
        plan.elements.push_back(ElementPlan{element, g->component, RepeatedValue{c, g->offset}});
      }
    }
    add_qualifier(plan, loop.occurrences[plan.occurrence]);
    check_codes(l, plan, t, std::nullopt);
    loops_[l].segments.push_back(std::move(plan));
  }
}

std::optional<std::vector<uint64_t>> Builder::nths(const Key& key,
                                                   const std::vector<Entry>& entries) {
  using spec::Pick;
  const bool all_last = std::all_of(entries.begin(), entries.end(),
                                    [](const Entry& e) { return e.pick.kind == Pick::Kind::Last; });
  std::vector<uint64_t> numbers;
  std::optional<std::size_t> culprit;
  for (std::size_t i = 0; i < entries.size(); ++i) {
    const Pick& p = entries[i].pick;
    if (p.kind == Pick::Kind::Last && !all_last && !culprit) culprit = i;
    numbers.push_back(p.kind == Pick::Kind::Nth ? p.n : 1);
  }
  // In series: the distinct numbers are exactly 1 to k.
  const std::set<uint64_t> distinct(numbers.begin(), numbers.end());
  for (std::size_t i = 0; i < entries.size() && !culprit; ++i) {
    if (numbers[i] > distinct.size()) culprit = i;
  }
  if (!culprit) return numbers;

  std::set<std::string> picks;
  for (const Entry& e : entries) picks.insert(spec::to_string(e.pick));
  const spec::LoopDef& loop = spec_.loops[key.loop];
  refusals_.push_back(Refusal::picks_out_of_series(
      spec_.tables[key.table].name, column_name(key.table, entries[*culprit].column),
      loop.occurrences[key.occurrence].name, loop.name, {picks.begin(), picks.end()}));
  return std::nullopt;
}

void Builder::segments() {
  std::vector<std::size_t> order;  // a key's entries by instance number, then column order
  for (const auto& [key, entries] : entries_) {
    auto numbers = nths(key, entries);
    if (!numbers) continue;
    const OccurrenceDef& occ = spec_.loops[key.loop].occurrences[key.occurrence];
    order.resize(entries.size());
    std::iota(order.begin(), order.end(), std::size_t{0});
    std::sort(order.begin(), order.end(), [&](std::size_t a, std::size_t b) {
      return std::pair((*numbers)[a], a) < std::pair((*numbers)[b], b);
    });
    for (std::size_t first = 0, end = 0; first < order.size(); first = end) {
      end = first + 1;
      while (end < order.size() && (*numbers)[order[end]] == (*numbers)[order[first]]) ++end;
      SegmentPlan plan{Source::Row, key.table, key.occurrence, {}};
      for (const Condition& c : key.codes) {
        plan.elements.push_back(ElementPlan{c.position, std::nullopt, Constant{c.value}});
      }
      add_qualifier(plan, occ);
      place_entries(key, entries, std::span(order).subspan(first, end - first), plan);
      check_codes(key.loop, plan, key.table, entries.front().column);
      loops_[key.loop].segments.push_back(std::move(plan));
    }
  }
}

void Builder::place_entries(const Key& key, const std::vector<Entry>& entries,
                            std::span<const std::size_t> instance, SegmentPlan& plan) {
  const spec::LoopDef& loop = spec_.loops[key.loop];
  const OccurrenceDef& occ = loop.occurrences[key.occurrence];
  auto place_of = [&](std::size_t i) { return Place(entries[i].element, entries[i].component); };
  // The fixed codes so far, by place, then position: a column takes the
  // first code's place.
  fixed_.clear();
  for (std::size_t k = 0; k < plan.elements.size(); ++k) {
    fixed_.emplace_back(Place(plan.elements[k].element, plan.elements[k].component), k);
  }
  std::sort(fixed_.begin(), fixed_.end());
  // The entries by place, then column order: the first of each place writes
  // it, and the later ones are refused, in column order.
  by_place_.assign(instance.begin(), instance.end());
  std::sort(by_place_.begin(), by_place_.end(), [&](std::size_t a, std::size_t b) {
    return std::pair(place_of(a), a) < std::pair(place_of(b), b);
  });
  twice_.clear();  // (entry, the column already there)
  for (std::size_t r = 0, next = 0; r < by_place_.size(); r = next) {
    const Entry& e = entries[by_place_[r]];
    const Place at = place_of(by_place_[r]);
    for (next = r + 1; next < by_place_.size() && place_of(by_place_[next]) == at; ++next) {
      twice_.emplace_back(by_place_[next], e.column);
    }
    const auto code = std::lower_bound(fixed_.begin(), fixed_.end(), std::pair(at, std::size_t{0}));
    if (code != fixed_.end() && code->first == at) {
      plan.elements[code->second].value = ColumnValue{e.column};
    } else {
      plan.elements.push_back(ElementPlan{e.element, e.component, ColumnValue{e.column}});
    }
  }
  std::sort(twice_.begin(), twice_.end());
  for (const auto& [i, other] : twice_) {
    const Entry& e = entries[i];
    refusals_.push_back(Refusal::element_written_twice(
        spec_.tables[key.table].name, column_name(key.table, e.column),
        place(occ.segment, e.element, e.component), occ.name, loop.name,
        column_name(key.table, other)));
  }
}

void Builder::add_qualifier(SegmentPlan& plan, const OccurrenceDef& occurrence) const {
  const auto& q = occurrence.qualifier;
  if (!q || q->codes.size() != 1) return;
  if (find_place(plan, q->element, q->component) != nullptr) return;
  plan.elements.push_back(ElementPlan{q->element, q->component, Constant{q->codes.front()}});
}

void Builder::check_codes(LoopId l, const SegmentPlan& plan, std::size_t t,
                          std::optional<std::size_t> column) {
  const spec::LoopDef& loop = spec_.loops[l];
  const OccurrenceDef& occ = loop.occurrences[plan.occurrence];
  for (const ElementPlan& e : plan.elements) {
    const auto* constant = std::get_if<Constant>(&e.value);
    if (constant == nullptr) continue;
    const std::vector<std::string>* codes = &kNoCodes.get();
    if (occ.qualifier && occ.qualifier->element == e.element &&
        occ.qualifier->component == e.component) {
      codes = &occ.qualifier->codes;
    } else {
      const spec::ElementDef* def =
          spec::find_element(spec_.segments, occ.segment, e.element, e.component);
      codes = &place_codes(occ, e.element, e.component, def ? def->codes : kNoCodes.get());
    }
    if (codes->empty() ||
        std::binary_search(codes->begin(), codes->end(), constant->code)) {
      continue;
    }
    std::optional<std::string> name;
    if (column) name = column_name(t, *column);
    refusals_.push_back(Refusal::code_not_allowed(spec_.tables[t].name, std::move(name), occ.name,
                                                  loop.name, constant->code,
                                                  place(occ.segment, e.element, e.component),
                                                  *codes));
  }
}

void Builder::implied() {
  for (LoopId l = 0; l < loops_.size(); ++l) {
    if (loops_[l].role == Role::NotWritten) continue;
    // A written ancestor has its own ancestors written or implied, by the
    // time this pass ends: the walk up stops there.
    for (std::optional<LoopId> a = spec_.loops[l].parent;
         a && loops_[*a].role == Role::NotWritten; a = spec_.loops[*a].parent) {
      loops_[*a].role = Role::Implied;
    }
  }
}

void Builder::repeats_placed() {
  for (const auto& [t, l] : repeats_) {
    if (loops_[l].role != Role::NotWritten) continue;
    refusals_.push_back(Refusal::repeat_without_instances(
        spec_.tables[t].name, lossy_utf8(*spec_.tables[t].segment), spec_.loops[l].name));
  }
}

const std::vector<Builder::Required>& Builder::required_places(const spec::SegmentDef& segment) {
  auto list = [&](std::vector<Required>& out) {
    for (const auto& [pos, element] : segment.elements) {
      if (!element.composite) {
        if (element.required) out.push_back({pos, std::nullopt, &element, true});
        continue;
      }
      for (const auto& [cpos, component] : *element.composite) {
        if (component.required) out.push_back({pos, cpos, &component, element.required});
      }
    }
  };
  // A short segment is listed afresh for each plan: keeping its list would
  // cost more.
  if (segment.elements.size() <= kListedAfresh) {
    listed_.clear();
    list(listed_);
    return listed_;
  }
  auto [at, fresh] = required_.try_emplace(&segment);
  if (fresh) list(at->second);
  return at->second;
}

void Builder::required_elements(LoopId l, SegmentPlan& plan) {
  const spec::LoopDef& loop = spec_.loops[l];
  const OccurrenceDef& occ = loop.occurrences[plan.occurrence];
  const auto def = spec_.segments.find(occ.segment);
  if (def == spec_.segments.end()) return;
  const std::vector<Required>& required = required_places(def->second);
  if (required.empty()) return;
  written_.clear();
  for (const ElementPlan& e : plan.elements) written_.emplace_back(e.element, e.component);
  std::sort(written_.begin(), written_.end());
  auto writes = [&](uint64_t element, std::optional<uint64_t> component) {
    return std::binary_search(written_.begin(), written_.end(), Place(element, component));
  };
  auto writes_element = [&](uint64_t element) {
    const auto at =
        std::lower_bound(written_.begin(), written_.end(), Place(element, std::nullopt));
    return at != written_.end() && at->first == element;
  };
  std::vector<const Required*> places;
  for (const Required& r : required) {
    if (!r.component) {
      if (!writes_element(r.element)) places.push_back(&r);
      continue;
    }
    // A value without component is component 1 of the composite, as the
    // emitter writes it and a reader reads it.
    if (!r.whole && !writes_element(r.element)) continue;
    const bool written =
        writes(r.element, r.component) || (*r.component == 1 && writes(r.element, std::nullopt));
    if (!written) places.push_back(&r);
  }
  std::vector<Refusal> found;
  for (const Required* p : places) {
    const auto& codes = place_codes(occ, p->element, p->component, p->def->codes);
    if (codes.size() == 1) {
      plan.elements.push_back(ElementPlan{p->element, p->component, Constant{codes.front()}});
      continue;
    }
    found.push_back(Refusal::required_element_unwritten(
        place(occ.segment, p->element, p->component), p->def->name, occ.name, loop.name,
        spec_.tables[plan.table].name));
  }
  refusals_.insert(refusals_.end(), found.begin(), found.end());
}

void Builder::required() {
  for (LoopId l = 0; l < loops_.size(); ++l) {
    if (loops_[l].role == Role::NotWritten) continue;
    const spec::LoopDef& loop = spec_.loops[l];
    for (LoopId c : loop.children) {
      const spec::LoopDef& child = spec_.loops[c];
      if (loops_[c].role == Role::NotWritten && child.usage == spec::Usage::Required) {
        refusals_.push_back(Refusal::required_loop_unsourced(
            child.name, spec::render_trigger(child.trigger), loop.name));
      }
    }
    std::vector<bool> planned(loop.occurrences.size(), false);
    for (const SegmentPlan& p : loops_[l].segments) {
      if (p.occurrence < planned.size()) planned[p.occurrence] = true;
    }
    for (std::size_t o = 0; o < loop.occurrences.size(); ++o) {
      const OccurrenceDef& occ = loop.occurrences[o];
      if (occ.usage != spec::Usage::Required || planned[o]) continue;
      refusals_.push_back(Refusal::required_occurrence_unwritten(
          occ.name, spec::render_selector(occ), loop.name));
    }
    for (SegmentPlan& plan : loops_[l].segments) {
      if (plan.source != Source::Envelope) required_elements(l, plan);
    }
  }
}

void Builder::sort() {
  for (LoopId l = 0; l < loops_.size(); ++l) {
    const auto& occurrences = spec_.loops[l].occurrences;
    auto pos = [&](const SegmentPlan& p) {
      return std::pair(occurrences[p.occurrence].pos, p.occurrence);
    };
    std::stable_sort(loops_[l].segments.begin(), loops_[l].segments.end(),
                     [&](const SegmentPlan& a, const SegmentPlan& b) { return pos(a) < pos(b); });
    for (SegmentPlan& plan : loops_[l].segments) {
      // std::optional orders none before any component.
      std::stable_sort(plan.elements.begin(), plan.elements.end(),
                       [](const ElementPlan& a, const ElementPlan& b) {
                         return std::pair(a.element, a.component) <
                                std::pair(b.element, b.component);
                       });
    }
  }
}

plan::Planned Builder::finish() && {
  if (!refusals_.empty()) return err(refusal::PlanError{spec_.name, std::move(refusals_)});
  return plan::WritePlan(std::move(loops_), std::move(unwritten_));
}

}  // namespace zarvi_core::write::build
