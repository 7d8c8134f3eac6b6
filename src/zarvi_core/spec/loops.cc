#include "zarvi_core/spec/loops.h"

#include <algorithm>

#include "zarvi_core/spec/render.h"
#include "zarvi_core/text.h"

namespace zarvi_core::spec {
namespace {

bool contains_all(const std::vector<Condition>& outer, const std::vector<Condition>& inner) {
  return std::all_of(inner.begin(), inner.end(), [&](const Condition& c) {
    return std::find(outer.begin(), outer.end(), c) != outer.end();
  });
}

bool some_position_differs(const std::vector<Condition>& a, const std::vector<Condition>& b) {
  for (const Condition& x : a) {
    for (const Condition& y : b) {
      if (x.position == y.position && x.value != y.value) return true;
    }
  }
  return false;
}

std::optional<std::string> parent_name(const std::vector<LoopDef>& loops, const LoopDef& loop) {
  if (!loop.parent) return std::nullopt;
  return loops[*loop.parent].name;
}

// The first conflicting pair of one sibling group.
Result<Unit, SpecError> check_group(const std::vector<LoopDef>& loops,
                                    const std::vector<LoopId>& group) {
  for (size_t i = 0; i < group.size(); ++i) {
    const LoopDef& a = loops[group[i]];
    for (size_t j = i + 1; j < group.size(); ++j) {
      const LoopDef& b = loops[group[j]];
      if (a.trigger.segment != b.trigger.segment) continue;
      const std::vector<Condition>& ca = a.trigger.conditions;
      const std::vector<Condition>& cb = b.trigger.conditions;
      if (ca == cb) {
        std::vector<std::pair<uint64_t, std::string>> conditions;
        conditions.reserve(ca.size());
        for (const Condition& c : ca) conditions.emplace_back(c.position, lossy_utf8(c.value));
        return err(SpecError::AmbiguousTrigger{a.name, b.name, parent_name(loops, a),
                                               lossy_utf8(a.trigger.segment),
                                               std::move(conditions)});
      }
      if (ca.empty() || cb.empty() || contains_all(ca, cb) || contains_all(cb, ca) ||
          some_position_differs(ca, cb)) {
        continue;
      }
      return err(SpecError::OverlappingTriggers{parent_name(loops, a), a.name, b.name,
                                                render_trigger(a.trigger),
                                                render_trigger(b.trigger)});
    }
  }
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
