#include "zarvi_core/engine.h"

namespace zarvi_core::engine {

namespace {

// The bytes of a simple element at a 1-based position, or none.
std::optional<std::string_view> simple_at(const Segment& segment, uint64_t position) {
  const Element* e = segment.element(position);
  if (e == nullptr || e->is_composite()) return std::nullopt;
  return e->value();
}

bool matches_and_beats(const spec::Spec& spec, LoopId id, const Segment& segment,
                       std::optional<LoopId>& best, size_t& best_conditions) {
  if (id >= spec.loops.size()) return false;
  const spec::Trigger& trigger = spec.loops[id].trigger;
  if (best && trigger.conditions.size() <= best_conditions) return false;
  if (!trigger_matches(trigger, segment)) return false;
  best = id;
  best_conditions = trigger.conditions.size();
  return true;
}

// Whether every condition of a trigger holds, the id aside.
bool conditions_match(const spec::Trigger& trigger, const Segment& segment) {
  for (const auto& [position, value] : trigger.conditions) {
    auto text = simple_at(segment, position);
    if (!text || *text != std::string_view(value)) return false;
  }
  return true;
}

}  // namespace

bool trigger_matches(const spec::Trigger& trigger, const Segment& segment) {
  return segment.id() == std::string_view(trigger.segment) && conditions_match(trigger, segment);
}

std::optional<LoopId> best_match(const spec::Spec& spec,
                                 std::span<const LoopId> candidates,
                                 const Segment& segment) {
  std::optional<LoopId> best;
  size_t best_conditions = 0;
  for (LoopId id : candidates) matches_and_beats(spec, id, segment, best, best_conditions);
  return best;
}

std::optional<LoopId> matching_child(const spec::Spec& spec,
                                     std::span<const LoopId> candidates,
                                     std::optional<LoopId> parent,
                                     const Segment& segment) {
  std::optional<LoopId> best;
  size_t best_conditions = 0;
  for (LoopId id : candidates) {
    if (id >= spec.loops.size() || spec.loops[id].parent != parent) continue;
    matches_and_beats(spec, id, segment, best, best_conditions);
  }
  return best;
}

TriggerIndex::TriggerIndex(const spec::Spec& spec) {
  const size_t n = spec.loops.size();
  std::vector<std::string_view> ids;
  for (const spec::LoopDef& loop : spec.loops) {
    ids.push_back(loop.trigger.segment);
    for (const auto& held : loop.held) ids.push_back(held);
    if (loop.end) ids.push_back(*loop.end);
  }
  short_ = id_table::Table<uint32_t>(ids.size());
  for (LoopId id = 0; id < n; ++id) {
    const spec::LoopDef& loop = spec.loops[id];
    entry(loop.trigger.segment, n)
        .openers.push_back({id, &loop.trigger, loop.parent.value_or(0), !loop.parent.has_value(),
                            loop.trigger.conditions.size()});
    for (const auto& held : loop.held) entry(held, n).holds[id] |= kHolds;
    if (loop.end) entry(*loop.end, n).holds[id] |= kHolds | kEnds;
  }
}

TriggerIndex::Entry& TriggerIndex::entry(std::string_view id, size_t loops) {
  if (const Entry* found = find(id)) return entries_[static_cast<size_t>(found - entries_.data())];
  const size_t at = entries_.size();
  entries_.emplace_back();
  entries_.back().holds.assign(loops, 0);
  if (id.size() <= id_table::kShortBytes) {
    short_.insert(id_table::short_key(id), static_cast<uint32_t>(at));
  } else {
    long_.emplace(std::string(id), at);
  }
  return entries_.back();
}

LoopEngine::LoopEngine(const spec::Spec& spec, bool shortcut)
    : spec_(&spec), index_(spec), depth_of_(spec.loops.size(), 0) {
  std::vector<uint64_t> keys;
  for (LoopId id = 0; shortcut && id < spec.loops.size(); ++id) {
    keys.clear();
    for (const std::string& held : spec.loops[id].held) {
      if (held.empty() || held.size() > id_table::kShortBytes) continue;
      const TriggerIndex::Entry* entry = index_.find(held);
      if (entry != nullptr && entry->openers.empty() && entry->holds[id] == TriggerIndex::kHolds)
        keys.push_back(id_table::short_key(held));
    }
    held_sets_.emplace_back(keys);
  }
  held_sets_.resize(spec.loops.size() + 1);
  track_innermost();
}

// Pops every open loop deeper than `depth` entries, innermost first.
void LoopEngine::close_from(size_t depth, std::vector<Event>& out) {
  while (stack_.size() > depth) {
    LoopId loop = stack_.back();
    stack_.pop_back();
    depth_of_[loop] = 0;
    out.push_back(Event::close(loop));
  }
  track_innermost();
}

void LoopEngine::feed_found(const Segment& segment, const TriggerIndex::Entry* entry,
                            std::vector<Event>& out) {
  const uint64_t at = segment.index();
  if (segment.id().empty() && segment.elements().empty()) {
    out.push_back(Event::empty(at));
    return;
  }
  if (entry == nullptr) {
    out.push_back(Event::unplaced(at));
    return;
  }

  // One pass over the loops that open on this id. A trigger at an open level
  // wins, the innermost level first (the root level last); among the loops
  // of one level, the most conditions, then the lowest LoopId. The best
  // match over all of them waits for step (d).
  std::optional<LoopId> child;
  std::optional<LoopId> any;
  size_t child_level = 0;
  size_t child_conditions = 0;
  size_t any_conditions = 0;
  for (const TriggerIndex::Opener& opener : entry->openers) {
    // The index found this loop by its trigger's id.
    const size_t conditions = opener.conditions;
    if (conditions != 0 && !conditions_match(*opener.trigger, segment)) continue;
    if (!any || conditions > any_conditions) {
      any = opener.loop;
      any_conditions = conditions;
    }
    // The level whose innermost loop is this loop's parent: 0 for a root.
    size_t level = 0;
    if (!opener.root) {
      level = depth_of_[opener.parent];
      if (level == 0) continue;
    }
    if (!child || level > child_level || (level == child_level && conditions > child_conditions)) {
      child = opener.loop;
      child_level = level;
      child_conditions = conditions;
    }
  }
  if (child) {
    close_above(child_level, out);
    push(*child);
    out.push_back(Event::open(*child, at, false));
    out.push_back(Event::placed(*child, at));
    return;
  }

  // An open loop that holds the segment or ends on it, innermost first.
  if (place_held(*entry, at, out)) return;

  // A trigger under a loop that is not open: open the missing ancestors.
  if (const std::optional<LoopId> found = any) {
    scratch_.clear();
    std::optional<LoopId> parent = spec_->loops[*found].parent;
    // The compiler refuses parent cycles; the bound only guards the walk.
    while (parent && scratch_.size() < spec_->loops.size()) {
      scratch_.push_back(*parent);
      parent = spec_->loops[*parent].parent;
    }
    size_t open_depth = 0;
    size_t missing = scratch_.size();
    for (size_t i = 0; i < scratch_.size(); ++i) {
      if (depth_of_[scratch_[i]] != 0) {
        open_depth = depth_of_[scratch_[i]];
        missing = i;
        break;
      }
    }
    close_above(open_depth, out);
    for (size_t i = missing; i-- > 0;) {
      push(scratch_[i]);
      out.push_back(Event::open(scratch_[i], at, true));
    }
    push(*found);
    out.push_back(Event::open(*found, at, false));
    out.push_back(Event::placed(*found, at));
    return;
  }

  out.push_back(Event::unplaced(at));
}

void LoopEngine::close_all(std::vector<Event>& out) {
  while (!stack_.empty()) {
    LoopId loop = stack_.back();
    stack_.pop_back();
    depth_of_[loop] = 0;
    out.push_back(Event::close(loop));
  }
  track_innermost();
}

std::string to_string(const spec::Spec& spec, const Event& event) {
  auto name = [&](LoopId id) {
    return id < spec.loops.size() ? spec.loops[id].name : "#" + std::to_string(id);
  };
  const std::string at = std::to_string(event.segment);
  switch (event.kind) {
    case Event::Kind::Open:
      return "Open(" + name(event.loop) + ", " + at + (event.implicit ? ", implicit)" : ")");
    case Event::Kind::Close:
      return "Close(" + name(event.loop) + ")";
    case Event::Kind::Segment:
      return "Segment(" + name(event.loop) + ", " + at + ")";
    case Event::Kind::Unplaced:
      return "Unplaced(" + at + ")";
    case Event::Kind::Empty:
      return "Empty(" + at + ")";
  }
  return {};
}

}  // namespace zarvi_core::engine
