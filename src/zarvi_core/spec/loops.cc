#include "zarvi_core/spec/loops.h"

#include <algorithm>
#include <iterator>
#include <map>
#include <set>
#include <string_view>

#include "zarvi_core/spec/compile.h"
#include "zarvi_core/spec/render.h"
#include "zarvi_core/text.h"

namespace zarvi_core::spec {
namespace {

// Both lists are sorted by position, then value.
bool contains_all(const std::vector<Condition>& outer, const std::vector<Condition>& inner) {
  return std::includes(outer.begin(), outer.end(), inner.begin(), inner.end());
}

bool some_position_differs(const std::vector<Condition>& a, const std::vector<Condition>& b) {
  auto x = a.begin();
  auto y = b.begin();
  while (x != a.end() && y != b.end()) {
    if (x->position < y->position) {
      ++x;
    } else if (y->position < x->position) {
      ++y;
    } else {
      if (x->value != y->value) return true;
      ++x, ++y;
    }
  }
  return false;
}

// Whether two siblings could open on the same segment with the same
// specificity.
bool conflicts(const Trigger& a, const Trigger& b) {
  if (a.segment != b.segment) return false;
  const std::vector<Condition>& ca = a.conditions;
  const std::vector<Condition>& cb = b.conditions;
  if (ca == cb) return true;
  return !(ca.empty() || cb.empty() || contains_all(ca, cb) || contains_all(cb, ca) ||
           some_position_differs(ca, cb));
}

std::optional<std::string> parent_name(const std::vector<LoopDef>& loops, const LoopDef& loop) {
  if (!loop.parent) return std::nullopt;
  return loops[*loop.parent].name;
}

SpecError conflict_error(const std::vector<LoopDef>& loops, const LoopDef& a, const LoopDef& b) {
  const std::vector<Condition>& ca = a.trigger.conditions;
  if (ca == b.trigger.conditions) {
    std::vector<std::pair<uint64_t, std::string>> conditions;
    conditions.reserve(ca.size());
    for (const Condition& c : ca) conditions.emplace_back(c.position, lossy_utf8(c.value));
    return SpecError::AmbiguousTrigger{a.name, b.name, parent_name(loops, a),
                                       lossy_utf8(a.trigger.segment), std::move(conditions)};
  }
  return SpecError::OverlappingTriggers{parent_name(loops, a), a.name, b.name,
                                        render_trigger(a.trigger), render_trigger(b.trigger)};
}

const std::string* value_at(const Trigger& t, uint64_t position) {
  for (const Condition& c : t.conditions) {
    if (c.position == position) return &c.value;
  }
  return nullptr;
}

using Pair = std::pair<LoopId, LoopId>;

// The first conflicting pair, earlier loop first, among siblings that share
// one trigger segment (ascending ids). Two loops that test one position for
// different values never conflict, so pairs are only tried within groups of
// equal value at the position with the most distinct values, and against
// the loops that do not test it; that keeps the usual case (siblings told
// apart by one qualifier code) linear.
std::optional<Pair> first_conflict(const std::vector<LoopDef>& loops,
                                   const std::vector<LoopId>& members) {
  std::map<uint64_t, std::set<std::string_view>> values;
  for (LoopId id : members) {
    for (const Condition& c : loops[id].trigger.conditions) values[c.position].insert(c.value);
  }
  uint64_t pivot = 0;
  size_t most = 0;
  for (const auto& [position, distinct] : values) {
    if (distinct.size() > most) pivot = position, most = distinct.size();
  }
  std::map<std::string_view, std::vector<LoopId>> by_value;
  std::vector<LoopId> untested;
  for (LoopId id : members) {
    const std::string* v = value_at(loops[id].trigger, pivot);
    if (v != nullptr) {
      by_value[*v].push_back(id);
    } else {
      untested.push_back(id);
    }
  }
  std::vector<LoopId> candidates;
  for (LoopId a : members) {
    candidates.clear();
    const auto later = [a](const std::vector<LoopId>& ids) {
      return std::upper_bound(ids.begin(), ids.end(), a);
    };
    if (const std::string* v = value_at(loops[a].trigger, pivot)) {
      const std::vector<LoopId>& same = by_value[*v];
      std::merge(later(same), same.cend(), later(untested), untested.cend(),
                 std::back_inserter(candidates));
    } else {
      candidates.assign(later(members), members.end());
    }
    for (LoopId b : candidates) {
      if (conflicts(loops[a].trigger, loops[b].trigger)) return Pair{a, b};
    }
  }
  return std::nullopt;
}

// The first conflicting pair of one sibling group: pairs are enumerated by
// the earlier loop, then the later one, and only loops with one trigger
// segment can conflict.
Result<Unit, SpecError> check_group(const std::vector<LoopDef>& loops,
                                    const std::vector<LoopId>& group) {
  std::map<std::string_view, std::vector<LoopId>> by_segment;
  for (LoopId id : group) by_segment[loops[id].trigger.segment].push_back(id);
  std::optional<Pair> first;
  for (const auto& [segment, members] : by_segment) {
    std::optional<Pair> p = first_conflict(loops, members);
    if (p && (!first || *p < *first)) first = p;
  }
  if (first) return err(conflict_error(loops, loops[first->first], loops[first->second]));
  return Unit{};
}

}  // namespace

Result<Control, ControlError> compile_control(const RawControl& raw, bool has_end) {
  if (!has_end) return err(ControlError::NoEnd{});
  if (raw.opener_element == 0) return err(ControlError::ZeroPosition{"opener_element"});
  if (raw.closer_element == 0) return err(ControlError::ZeroPosition{"closer_element"});
  if (raw.count_element == 0) return err(ControlError::ZeroPosition{"count_element"});
  Count count;
  if (raw.count == "segments") {
    count = Count::Segments;
  } else if (raw.count == "children") {
    count = Count::Children;
  } else {
    return err(ControlError::UnknownCount{raw.count});
  }
  return Control{raw.opener_element, raw.closer_element, raw.count_element, count};
}

Result<Unit, SpecError> check_cycles(const std::vector<LoopDef>& loops) {
  // A loop from which a walk reached a root is known to lead to none; later
  // walks stop there, so the whole check stays linear in the loop count.
  std::vector<bool> acyclic(loops.size(), false);
  // Place of each loop on the current walk, or npos.
  constexpr size_t npos = static_cast<size_t>(-1);
  std::vector<size_t> on_walk(loops.size(), npos);
  std::vector<LoopId> walk;
  for (LoopId start = 0; start < loops.size(); ++start) {
    walk.clear();
    std::optional<LoopId> at = start;
    while (at && !acyclic[*at]) {
      if (on_walk[*at] != npos) {
        std::vector<std::string> members;
        for (size_t k = on_walk[*at]; k < walk.size(); ++k) members.push_back(loops[walk[k]].name);
        return err(SpecError::Cycle{std::move(members)});
      }
      on_walk[*at] = walk.size();
      walk.push_back(*at);
      at = loops[*at].parent;
    }
    for (LoopId id : walk) {
      acyclic[id] = true;
      on_walk[id] = npos;
    }
  }
  return Unit{};
}

std::vector<LoopId> link_children(std::vector<LoopDef>& loops) {
  std::vector<LoopId> roots;
  for (LoopDef& loop : loops) loop.children.clear();
  for (LoopId id = 0; id < loops.size(); ++id) {
    if (loops[id].parent) {
      loops[*loops[id].parent].children.push_back(id);
    } else {
      roots.push_back(id);
    }
  }
  return roots;
}

Result<Unit, SpecError> check_ambiguity(const std::vector<LoopDef>& loops,
                                        const std::vector<LoopId>& roots) {
  if (auto r = check_group(loops, roots); !r.ok()) return r;
  for (const LoopDef& loop : loops) {
    if (auto r = check_group(loops, loop.children); !r.ok()) return r;
  }
  return Unit{};
}

}  // namespace zarvi_core::spec
