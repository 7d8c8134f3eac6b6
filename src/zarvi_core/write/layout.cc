#include "zarvi_core/write/layout.h"

#include <algorithm>
#include <limits>
#include <utility>

namespace zarvi_core::write::layout {

using plan::ColumnValue;
using plan::Role;
using plan::SegmentPlan;
using plan::Source;

namespace {

constexpr uint64_t kLast = std::numeric_limits<uint64_t>::max();

std::optional<uint64_t> trigger_pos(const spec::LoopDef& loop) {
  const spec::OccurrenceDef* t = spec::trigger_occurrence(loop.occurrences, loop.trigger);
  if (t == nullptr) return std::nullopt;
  return t->pos;
}

std::vector<Item> order_items(const spec::Spec& spec, LoopId l,
                              const std::vector<SegmentPlan>& plans) {
  const spec::LoopDef& loop = spec.loops[l];
  struct Keyed {
    uint64_t key;
    Item item;
  };
  std::vector<Keyed> keyed;
  for (std::size_t i = 0; i < plans.size(); ++i) {
    const std::size_t o = plans[i].occurrence;
    const uint64_t key = o < loop.occurrences.size() ? loop.occurrences[o].pos : kLast;
    keyed.push_back({key, Item{Item::Kind::Segment, i}});
  }
  const auto own = trigger_pos(loop);
  for (LoopId c : loop.children) {
    const auto child = trigger_pos(spec.loops[c]);
    // A child that cannot be placed by position goes after everything placed.
    const uint64_t key = child && own && *child > *own ? *child : kLast;
    keyed.push_back({key, Item{Item::Kind::Loop, c}});
  }
  std::stable_sort(keyed.begin(), keyed.end(), [](const Keyed& a, const Keyed& b) {
    return std::pair(a.key, a.item.kind) < std::pair(b.key, b.item.kind);
  });
  std::vector<Item> items;
  items.reserve(keyed.size());
  for (const Keyed& k : keyed) items.push_back(k.item);
  return items;
}

}  // namespace

Layout::Layout(const plan::WritePlan& plan, const spec::Spec& spec)
    : loops_(spec.loops.size()), groups_(spec.tables.size(), 1) {
  // Controls above each loop, counted parents first.
  std::vector<uint64_t> above(spec.loops.size(), 0);
  std::vector<LoopId> pending(spec.roots.begin(), spec.roots.end());
  while (!pending.empty()) {
    const LoopId l = pending.back();
    pending.pop_back();
    for (LoopId c : spec.loops[l].children) {
      above[c] = above[l] + (spec.loops[l].control ? 1 : 0);
      pending.push_back(c);
    }
  }
  for (LoopId l = 0; l < spec.loops.size(); ++l) {
    const spec::LoopDef& loop = spec.loops[l];
    const auto& plans = plan.segments(l);
    LoopLayout& out = loops_[l];
    out.items = order_items(spec, l, plans);

    if (const spec::OccurrenceDef* t = spec::trigger_occurrence(loop.occurrences, loop.trigger)) {
      const std::size_t o = static_cast<std::size_t>(t - loop.occurrences.data());
      for (std::size_t i = 0; i < plans.size(); ++i) {
        if (plans[i].source == Source::Row && plans[i].occurrence == o) {
          out.opener = i;
          break;
        }
      }
    }

    if (plan.role(l) == Role::ReadAbove && plan.role_table(l)) {
      const std::size_t t = *plan.role_table(l);
      for (const SegmentPlan& p : plans) {
        if (p.source != Source::Row || p.table != t) continue;
        for (const plan::ElementPlan& e : p.elements) {
          if (const auto* c = std::get_if<ColumnValue>(&e.value)) out.read_columns.push_back(c->column);
        }
      }
    }

    if (loop.control) out.level = above[l];
  }

  for (std::size_t t = 0; t < spec.tables.size(); ++t) {
    const spec::TableDef& table = spec.tables[t];
    if (!table.segment || !table.repeat) continue;
    const auto [from, step] = *table.repeat;
    uint64_t last = from;
    if (auto def = spec.segments.find(*table.segment);
        def != spec.segments.end() && !def->second.elements.empty()) {
      last = def->second.elements.rbegin()->first;
    }
    if (step != 0 && last >= from) groups_[t] = (last - from) / step + 1;
  }
}

}  // namespace zarvi_core::write::layout
