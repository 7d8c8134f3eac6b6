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

// A transparent string hash with a per-process seed, for maps keyed by ids.
struct IdHash {
  using is_transparent = void;
  size_t operator()(std::string_view s) const noexcept;
};

// Per segment id, the loops that open on it (ascending LoopId) and the loops
// that hold it or end on it. Built once per engine; lookups do not allocate.
class TriggerIndex {
 public:
  explicit TriggerIndex(const spec::Spec& spec);

  // Bits of Entry::holds.
  static constexpr uint8_t kHolds = 1;  // the loop holds the id or ends on it
  static constexpr uint8_t kEnds = 2;   // the loop ends on the id

  struct Entry {
    std::vector<LoopId> openers;
    // Per loop: kHolds and kEnds bits.
    std::vector<uint8_t> holds;
  };
  // Null when no loop opens on, holds or ends on the id.
  const Entry* find(std::string_view id) const {
    if (id.size() < 8) {
      const uint64_t key = short_key(id);
      for (uint64_t slot = (key ^ seed_) * 0x9E3779B97F4A7C15ULL >> shift_;;
           slot = (slot + 1) & (keys_.size() - 1)) {
        if (keys_[slot] == key) return &entries_[positions_[slot]];
        if (keys_[slot] == 0) return nullptr;
      }
    }
    auto it = long_.find(id);
    return it == long_.end() ? nullptr : &entries_[it->second];
  }

 private:
  // Ids under 8 bytes (every X12 id) as one integer: their bytes under a
  // leading 1 bit, so that no key is 0, the empty slot.
  static uint64_t short_key(std::string_view id) {
    const std::size_t n = id.size();
    const char* const p = id.data();
    auto byte = [&](std::size_t i) { return uint64_t{static_cast<unsigned char>(p[i])}; };
    // Overlapping reads of the id's own bytes: a call to memcpy would cost
    // more than the lookup.
    uint64_t key = 0;
    if (n >= 4) {
      auto four = [&](std::size_t i) {
        return byte(i) | byte(i + 1) << 8 | byte(i + 2) << 16 | byte(i + 3) << 24;
      };
      key = four(0) | four(n - 4) << (8 * (n - 4));
    } else if (n >= 2) {
      key = (byte(0) | byte(1) << 8) | (byte(n - 2) | byte(n - 1) << 8) << (8 * (n - 2));
    } else if (n == 1) {
      key = byte(0);
    }
    return key | uint64_t{1} << (8 * n);
  }
  Entry& entry(std::string_view id, size_t loops);

  std::vector<Entry> entries_;
  // Short ids: open addressing with linear probing, at most half full, so
  // that a lookup costs one multiply and a probe or two.
  std::vector<uint64_t> keys_;
  std::vector<uint32_t> positions_;  // into entries_, by slot
  uint64_t seed_ = 0;
  unsigned shift_ = 63;
  std::unordered_map<std::string, size_t, IdHash, std::equal_to<>> long_;
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

// The text a reader of one value takes from element `element`: component
// `component` (1 when none) of a composite, or a simple element itself when
// no component or component 1 is asked for; none otherwise or when absent.
// Inline: the balancing sums and the projector read every amount through it.
inline std::optional<std::string_view> component_text(const Segment& segment, uint64_t element,
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

// A diagnostic with the SNIP level of its rule and, as its loops, the open
// instances `open` (each with a `loop` and an `ordinal`), outermost first.
// `path` holds the loops of the caller's last diagnostic and is shared again
// while they stay open.
template <class Open>
Diagnostic diagnostic_at(const spec::Spec& spec, Rule rule, std::optional<uint64_t> segment,
                         std::optional<uint64_t> element, std::optional<uint64_t> component,
                         std::string_view datum, std::span<const Open> open, LoopPath& path) {
  bool same = path.size() == open.size();
  for (size_t i = 0; same && i < open.size(); ++i)
    same = path[i].instance == open[i].ordinal && path[i].key == spec.loops[open[i].loop].name;
  if (!same) {
    std::vector<LoopRef> loops;
    loops.reserve(open.size());
    for (const Open& o : open) loops.push_back(LoopRef{spec.loops[o.loop].name, o.ordinal});
    path = LoopPath(std::move(loops));
  }
  Diagnostic d;
  d.segment = segment;
  d.element = element;
  d.component = component;
  d.loops = path;
  d.datum.assign(datum);
  d.level = rule.level();
  d.rule = std::move(rule);
  return d;
}

class LoopEngine {
 public:
  explicit LoopEngine(const spec::Spec& spec);

  // The events of one segment, valid until the next call.
  const std::vector<Event>& feed(const Segment& segment) {
    feed(segment, events_);
    return events_;
  }
  // The same events written to `out`, cleared first.
  void feed(const Segment& segment, std::vector<Event>& out);

  // Closes every open loop, innermost first, appending one Close event per
  // loop to `out`; the engine can then read another stream.
  void close_all(std::vector<Event>& out);

  // The open loop instances, outermost first.
  std::span<const LoopId> stack() const { return stack_; }
  const spec::Spec& spec() const { return *spec_; }

 private:
  void push(LoopId loop);
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
};

}  // namespace zarvi_core::engine
