#include "zarvi_core/write/build.h"

#include <algorithm>
#include <limits>
#include <set>

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

// Whether the occurrence is read by `conditions`; `strict` also asks each
// condition's code to pass its element's own code list.
bool passes(const spec::Spec& spec, const OccurrenceDef& occ, std::string_view segment,
            std::span<const Condition> conditions, bool strict) {
  if (occ.segment != segment) return false;
  for (const Condition& c : conditions) {
    const auto& q = occ.qualifier;
    if (q && !q->component && q->element == c.position && !q->accepts(c.value)) return false;
    if (auto it = occ.codes.find(spec::CodePlace{c.position, std::nullopt});
        it != occ.codes.end() &&
        !std::binary_search(it->second.begin(), it->second.end(), c.value)) {
      return false;
    }
    if (strict) {
      const spec::ElementDef* def = spec::find_element(spec.segments, segment, c.position, {});
      if (def != nullptr && def->rejects_code(c.value)) return false;
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

bool writes_element(const SegmentPlan& plan, uint64_t element) {
  return std::any_of(plan.elements.begin(), plan.elements.end(),
                     [&](const ElementPlan& e) { return e.element == element; });
}

std::optional<std::size_t> occurrence_index(const spec::LoopDef& loop, const std::string& name) {
  for (std::size_t i = 0; i < loop.occurrences.size(); ++i) {
    if (loop.occurrences[i].name == name) return i;
  }
  return std::nullopt;
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

Resolution resolve(const spec::Spec& spec, const spec::LoopDef& loop, std::string_view segment,
                   std::span<const Condition> conditions) {
  std::vector<std::size_t> matches;
  for (std::size_t i = 0; i < loop.occurrences.size(); ++i) {
    if (passes(spec, loop.occurrences[i], segment, conditions, true)) matches.push_back(i);
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
  if (matches.empty()) {
    for (const OccurrenceDef& occ : loop.occurrences) {
      if (!passes(spec, occ, segment, conditions, false)) continue;
      for (const Condition& c : conditions) {
        const spec::ElementDef* def = spec::find_element(spec.segments, segment, c.position, {});
        if (def != nullptr && def->rejects_code(c.value)) {
          return NeverValid{place(segment, c.position), c.value, def->codes};
        }
      }
      break;
    }
    return Unmatched{};
  }
  Unmatched out;
  for (std::size_t i : matches) out.names.push_back(loop.occurrences[i].name);
  return out;
}

Builder::Builder(const spec::Spec& spec)
    : spec_(spec), loops_(spec.loops.size()), refused_(spec.tables.size(), false) {}

const std::string& Builder::column_name(std::size_t table, std::size_t column) const {
  return spec_.tables[table].columns[column].first;
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
      auto found = occurrence_index(loop, *source->occurrence);
      if (!found) {
        refusals_.push_back(Refusal::unmatched_source(
            table.name, name, spec::quote_name(*source->occurrence), loop.name, {}));
        continue;
      }
      o = *found;
    } else {
      Resolution r = resolve(spec_, loop, source->segment, source->where);
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

    if (loop.control && trigger_index(loop) == o) {
      refusals_.push_back(Refusal::envelope_occurrence_read(table.name, name,
                                                            loop.occurrences[o].name, loop.name));
      continue;
    }

    if (source->loop) {
      const auto above = spec_.ancestors(anchor);
      const Role claim =
          std::find(above.begin(), above.end(), l) != above.end() ? Role::ReadAbove : Role::ReadBy;
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
    Resolution r = resolve(spec_, loop, segment, {});
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
  for (const auto& [key, entries] : entries_) {
    auto numbers = nths(key, entries);
    if (!numbers) continue;
    const spec::LoopDef& loop = spec_.loops[key.loop];
    const OccurrenceDef& occ = loop.occurrences[key.occurrence];
    const std::set<uint64_t> instances(numbers->begin(), numbers->end());
    for (uint64_t n : instances) {
      SegmentPlan plan{Source::Row, key.table, key.occurrence, {}};
      for (const Condition& c : key.codes) {
        plan.elements.push_back(ElementPlan{c.position, std::nullopt, Constant{c.value}});
      }
      add_qualifier(plan, occ);
      for (std::size_t i = 0; i < entries.size(); ++i) {
        if ((*numbers)[i] != n) continue;
        const Entry& e = entries[i];
        ElementPlan* there = find_place(plan, e.element, e.component);
        if (there == nullptr) {
          plan.elements.push_back(ElementPlan{e.element, e.component, ColumnValue{e.column}});
        } else if (std::holds_alternative<Constant>(there->value)) {
          there->value = ColumnValue{e.column};
        } else {
          const std::size_t other = std::holds_alternative<ColumnValue>(there->value)
                                        ? std::get<ColumnValue>(there->value).column
                                        : std::get<RepeatedValue>(there->value).column;
          refusals_.push_back(Refusal::element_written_twice(
              spec_.tables[key.table].name, column_name(key.table, e.column),
              place(occ.segment, e.element, e.component), occ.name, loop.name,
              column_name(key.table, other)));
        }
      }
      check_codes(key.loop, plan, key.table, entries.front().column);
      loops_[key.loop].segments.push_back(std::move(plan));
    }
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
    for (LoopId a : spec_.ancestors(l)) {
      if (loops_[a].role == Role::NotWritten) loops_[a].role = Role::Implied;
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

void Builder::required_elements(LoopId l, SegmentPlan& plan) {
  const spec::LoopDef& loop = spec_.loops[l];
  const OccurrenceDef& occ = loop.occurrences[plan.occurrence];
  const auto def = spec_.segments.find(occ.segment);
  if (def == spec_.segments.end()) return;
  struct Place {
    uint64_t element;
    std::optional<uint64_t> component;
    const spec::ElementDef* def;
  };
  std::vector<Place> places;
  for (const auto& [pos, element] : def->second.elements) {
    if (!element.composite) {
      if (element.required && !writes_element(plan, pos)) places.push_back({pos, {}, &element});
      continue;
    }
    // A value without component is component 1 of the composite, as the
    // emitter writes it and a reader reads it.
    if (!element.required && !writes_element(plan, pos)) continue;
    for (const auto& [cpos, component] : *element.composite) {
      const bool written = find_place(plan, pos, cpos) != nullptr ||
                           (cpos == 1 && find_place(plan, pos, std::nullopt) != nullptr);
      if (component.required && !written) {
        places.push_back({pos, cpos, &component});
      }
    }
  }
  std::vector<Refusal> found;
  for (const Place& p : places) {
    const auto& codes = place_codes(occ, p.element, p.component, p.def->codes);
    if (codes.size() == 1) {
      plan.elements.push_back(ElementPlan{p.element, p.component, Constant{codes.front()}});
      continue;
    }
    found.push_back(Refusal::required_element_unwritten(
        place(occ.segment, p.element, p.component), p.def->name, occ.name, loop.name,
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
    const auto& plans = loops_[l].segments;
    for (std::size_t o = 0; o < loop.occurrences.size(); ++o) {
      const OccurrenceDef& occ = loop.occurrences[o];
      if (occ.usage != spec::Usage::Required) continue;
      if (std::any_of(plans.begin(), plans.end(),
                      [&](const SegmentPlan& p) { return p.occurrence == o; })) {
        continue;
      }
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
