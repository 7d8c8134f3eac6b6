// LoopEngine: places each segment of a stream in the loop tree of a compiled
// Spec and reports which loop instances open and close around it. It checks
// nothing; the checker and the projector read its events. The engine refers to
// the spec, which must outlive it; the events of `feed` stay valid until the
// next call.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "zarvi_core/diagnostic.h"
#include "zarvi_core/id_table.h"
#include "zarvi_core/segment.h"
#include "zarvi_core/spec/spec.h"

namespace zarvi_core::engine {

using spec::LoopId;

struct Event {
  enum class Kind : uint8_t { Open, Close, Segment, Unplaced, Empty };

  Kind kind = Kind::Empty;
  // Open only: the loop opened only as a missing ancestor of another loop.
  bool implicit = false;
  // Open, Close and Segment.
  LoopId loop = 0;
  // Open, Segment, Unplaced and Empty: the 0-based segment index.
  uint64_t segment = 0;

  static Event open(LoopId loop, uint64_t segment, bool implicit) {
    return {Kind::Open, implicit, loop, segment};
  }
  static Event close(LoopId loop) { return {Kind::Close, false, loop, 0}; }
  static Event placed(LoopId loop, uint64_t segment) {
    return {Kind::Segment, false, loop, segment};
  }
  static Event unplaced(uint64_t segment) {
    return {Kind::Unplaced, false, 0, segment};
  }
  static Event empty(uint64_t segment) { return {Kind::Empty, false, 0, segment}; }

  friend bool operator==(const Event&, const Event&) = default;
};

// "Open(2000, 3, implicit)", "Close(2000)", "Segment(2100, 4)"... for tests
// and debugging; loops by name.
std::string to_string(const spec::Spec& spec, const Event& event);

// Whether a loop's trigger matches a segment: the ids are equal byte for byte
// and every condition's element exists, is simple and equals its value.
bool trigger_matches(const spec::Trigger& trigger, const Segment& segment);

// Per segment id, the loops that open on it (ascending LoopId) and the loops
// that hold it or end on it. Built once per engine, it refers to the spec's
// triggers; lookups do not allocate.
class TriggerIndex {
 public:
  explicit TriggerIndex(const spec::Spec& spec);

  // Bits of Entry::holds.
  static constexpr uint8_t kHolds = 1;  // the loop holds the id or ends on it
  static constexpr uint8_t kEnds = 2;   // the loop ends on the id

  // A loop that opens on the id, with what choosing it reads, so that the
  // choice does not walk the loop definitions.
  struct Opener {
    LoopId loop = 0;
    const spec::Trigger* trigger = nullptr;
    LoopId parent = 0;  // when not a root
    bool root = true;
    size_t conditions = 0;  // the trigger's
  };
  struct Entry {
    std::vector<Opener> openers;  // ascending LoopId
    // Per loop: kHolds and kEnds bits.
    std::vector<uint8_t> holds;
  };
  // Null when no loop opens on, holds or ends on the id.
  const Entry* find(std::string_view id) const {
    if (id.size() <= id_table::kShortBytes) return find_short(id_table::short_key(id));
    return find_long(id);
  }
  // The same for a segment's id, packed already.
  const Entry* find(const Segment& segment) const {
    if (segment.id_key() != 0) return find_short(segment.id_key());
    return find_long(segment.id());
  }

 private:
  Entry& entry(std::string_view id, size_t loops);
  const Entry* find_short(uint64_t key) const {
    const uint32_t* at = short_.find(key);
    return at == nullptr ? nullptr : &entries_[*at];
  }
  const Entry* find_long(std::string_view id) const {
    auto it = long_.find(id);
    return it == long_.end() ? nullptr : &entries_[it->second];
  }

  std::vector<Entry> entries_;
  // Positions in entries_ by id.
  id_table::Table<uint32_t> short_;
  std::unordered_map<std::string, size_t, id_table::IdHash, std::equal_to<>> long_;
};

// Among the candidate loops (ascending) whose trigger matches the segment, the
// one with the most conditions, the lowest LoopId among equals.
// `matching_child` takes only the candidates whose parent is `parent` (no
// parent: the roots).
std::optional<LoopId> best_match(const spec::Spec& spec,
                                 std::span<const LoopId> candidates,
                                 const Segment& segment);
std::optional<LoopId> matching_child(const spec::Spec& spec,
                                     std::span<const LoopId> candidates,
                                     std::optional<LoopId> parent,
                                     const Segment& segment);

class LoopEngine {
 public:
  // `shortcut` false: every segment takes the general path, which the tests
  // compare with the shortcut.
  explicit LoopEngine(const spec::Spec& spec, bool shortcut = true);
  // held_ points into held_sets_, which a move keeps and a copy would not.
  LoopEngine(const LoopEngine&) = delete;
  LoopEngine& operator=(const LoopEngine&) = delete;
  LoopEngine(LoopEngine&&) = default;
  LoopEngine& operator=(LoopEngine&&) = default;

  // The events of one segment, valid until the next call.
  const std::vector<Event>& feed(const Segment& segment) {
    feed(segment, events_);
    return events_;
  }
  // The same events written to `out`, cleared first. Inline: most segments
  // open nothing and are held by a loop already open.
  [[gnu::always_inline]] void feed(const Segment& segment, std::vector<Event>& out) {
    out.clear();
    // Held by the innermost open loop, opening and ending nothing: the
    // segment changes nothing else.
    if (held_->contains(segment.id_key())) [[likely]] {
      out.push_back(Event::placed(stack_.back(), segment.index()));
      return;
    }
    const TriggerIndex::Entry* entry = index_.find(segment);
    if (entry != nullptr && entry->openers.empty() && !segment.id().empty() &&
        place_held(*entry, segment.index(), out)) [[likely]]
      return;
    feed_found(segment, entry, out);
  }

  // Closes every open loop, innermost first, appending one Close event per
  // loop to `out`; the engine can then read another stream.
  void close_all(std::vector<Event>& out);

  // The open loop instances, outermost first.
  std::span<const LoopId> stack() const { return stack_; }
  const spec::Spec& spec() const { return *spec_; }

 private:
  // feed past the lookup: `entry` is the index's for the segment's id.
  void feed_found(const Segment& segment, const TriggerIndex::Entry* entry,
                  std::vector<Event>& out);
  // Places the segment in the innermost open loop that holds its id or ends
  // on it, closing the loops inside; false, with no event, when none does.
  [[gnu::always_inline]] bool place_held(const TriggerIndex::Entry& entry, uint64_t at,
                                         std::vector<Event>& out) {
    for (size_t level = stack_.size(); level-- > 0;) {
      const LoopId loop = stack_[level];
      const uint8_t holds = entry.holds[loop];
      if (holds == 0) continue;
      close_above(level + 1, out);
      out.push_back(Event::placed(loop, at));
      if (holds & TriggerIndex::kEnds) close_above(level, out);
      return true;
    }
    return false;
  }
  void push(LoopId loop) {
    stack_.push_back(loop);
    depth_of_[loop] = static_cast<uint32_t>(stack_.size());
    track_innermost();
  }
  // Points held_ at the innermost open loop's set.
  void track_innermost() {
    held_ = &held_sets_[stack_.empty() ? held_sets_.size() - 1 : stack_.back()];
  }
  // Most segments close nothing: the test is inline, the work is not.
  void close_above(size_t depth, std::vector<Event>& out) {
    if (stack_.size() > depth) close_from(depth, out);
  }
  void close_from(size_t depth, std::vector<Event>& out);

  const spec::Spec* spec_;
  TriggerIndex index_;
  std::vector<LoopId> stack_;
  // Per loop: its place on the stack plus one, 0 when it is not open.
  std::vector<uint32_t> depth_of_;
  std::vector<Event> events_;
  std::vector<LoopId> scratch_;
  // Per loop, the short ids it holds that open no loop and do not end it,
  // then an empty set for no open loop.
  std::vector<id_table::HomeSet> held_sets_;
  const id_table::HomeSet* held_ = nullptr;  // the innermost open loop's
};

}  // namespace zarvi_core::engine
