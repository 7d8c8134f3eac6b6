#include "zarvi_core/engine.h"

#include <random>

namespace zarvi_core::engine {

namespace {

uint64_t process_seed() {
  static const uint64_t seed = [] {
    std::random_device rd;
    return (uint64_t{rd()} << 32) ^ rd();
  }();
  return seed;
}

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

}  // namespace

std::optional<std::string_view> component_text(const Segment& segment, uint64_t element,
                                               std::optional<uint64_t> component) {
  const Element* e = segment.element(element);
  if (e == nullptr) return std::nullopt;
  const uint64_t c = component.value_or(1);
  if (e->is_composite()) {
    auto parts = e->components();
    if (c == 0 || c > parts.size()) return std::nullopt;
    return parts[c - 1].view();
  }
  if (c != 1) return std::nullopt;
  return e->value();
}

bool trigger_matches(const spec::Trigger& trigger, const Segment& segment) {
  if (segment.id() != std::string_view(trigger.segment)) return false;
  for (const auto& [position, value] : trigger.conditions) {
    auto text = simple_at(segment, position);
    if (!text || *text != std::string_view(value)) return false;
  }
  return true;
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

size_t IdHash::operator()(std::string_view s) const noexcept {
  // FNV-1a from a per-process seed: ids are short, and the seed keeps the
  // table's layout from being predictable from the input.
  uint64_t h = 0xcbf29ce484222325ULL ^ process_seed();
  for (unsigned char c : s) {
    h ^= c;
    h *= 0x100000001b3ULL;
  }
  return static_cast<size_t>(h ^ (h >> 32));
}

TriggerIndex::TriggerIndex(const spec::Spec& spec) {
  const size_t n = spec.loops.size();
  auto entry = [&](std::string_view id) -> Entry& {
    auto it = entries_.find(id);
    if (it == entries_.end()) {
      it = entries_.emplace(std::string(id), Entry{}).first;
      it->second.holds.assign(n, 0);
    }
    return it->second;
  };
  for (LoopId id = 0; id < n; ++id) {
    const spec::LoopDef& loop = spec.loops[id];
    entry(loop.trigger.segment).openers.push_back(id);
    for (const auto& held : loop.held) entry(held).holds[id] = 1;
    if (loop.end) entry(*loop.end).holds[id] = 1;
  }
}

const TriggerIndex::Entry* TriggerIndex::find(std::string_view id) const {
  auto it = entries_.find(id);
  return it == entries_.end() ? nullptr : &it->second;
}

LoopEngine::LoopEngine(const spec::Spec& spec)
    : spec_(&spec), index_(spec), depth_of_(spec.loops.size(), 0) {}

void LoopEngine::push(LoopId loop) {
  stack_.push_back(loop);
  depth_of_[loop] = static_cast<uint32_t>(stack_.size());
}

// Pops every open loop deeper than `depth` entries, innermost first.
void LoopEngine::close_above(size_t depth) {
  while (stack_.size() > depth) {
    LoopId loop = stack_.back();
    stack_.pop_back();
    depth_of_[loop] = 0;
    events_.push_back(Event::close(loop));
  }
}

const std::vector<Event>& LoopEngine::feed(const Segment& segment) {
  events_.clear();
  const uint64_t at = segment.index();
  if (segment.id().empty() && segment.elements().empty()) {
    events_.push_back(Event::empty(at));
    return events_;
  }
  const TriggerIndex::Entry* entry = index_.find(segment.id());
  if (entry == nullptr) {
    events_.push_back(Event::unplaced(at));
    return events_;
  }

  // A trigger at an open level, innermost level first, then the root level.
  if (!entry->openers.empty()) {
    for (size_t level = stack_.size() + 1; level-- > 0;) {
      std::optional<LoopId> parent;
      if (level > 0) parent = stack_[level - 1];
      if (auto child = matching_child(*spec_, entry->openers, parent, segment)) {
        close_above(level);
        push(*child);
        events_.push_back(Event::open(*child, at, false));
        events_.push_back(Event::placed(*child, at));
        return events_;
      }
    }
  }

  // An open loop that holds the segment or ends on it, innermost first.
  for (size_t level = stack_.size(); level-- > 0;) {
    LoopId loop = stack_[level];
    if (!entry->holds[loop]) continue;
    close_above(level + 1);
    events_.push_back(Event::placed(loop, at));
    const auto& end = spec_->loops[loop].end;
    if (end && std::string_view(*end) == segment.id()) close_above(level);
    return events_;
  }

  // A trigger under a loop that is not open: open the missing ancestors.
  if (auto found = best_match(*spec_, entry->openers, segment)) {
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
    close_above(open_depth);
    for (size_t i = missing; i-- > 0;) {
      push(scratch_[i]);
      events_.push_back(Event::open(scratch_[i], at, true));
    }
    push(*found);
    events_.push_back(Event::open(*found, at, false));
    events_.push_back(Event::placed(*found, at));
    return events_;
  }

  events_.push_back(Event::unplaced(at));
  return events_;
}

void LoopEngine::close_all(std::vector<Event>& out) {
  while (!stack_.empty()) {
    LoopId loop = stack_.back();
    stack_.pop_back();
    depth_of_[loop] = 0;
    out.push_back(Event::close(loop));
  }
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
