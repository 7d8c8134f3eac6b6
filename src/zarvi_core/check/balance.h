// Balancing sums of a stream: per open instance of a rule's "per" loop, the
// running totals of its target and sum terms, compared when the instance
// closes. Built once from a Spec (which must outlive it); pending sums are
// recycled between instances so a warm stream does not allocate.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "zarvi_core/amounts.h"
#include "zarvi_core/int128.h"
#include "zarvi_core/segment.h"
#include "zarvi_core/spec/spec.h"

namespace zarvi_core::check::balance {

using spec::LoopId;

// One value the terms of an occurrence read: an element (or one of its
// components) at one scale. Terms reading the same place share it, so that a
// segment feeding several sums reads and parses each value once.
struct Place {
  uint64_t position = 0;
  std::optional<uint64_t> component;
  uint8_t scale = 0;
  bool required = false;  // by its element's definition
};

// One term of a rule as seen from the occurrence it reads.
struct Feed {
  std::optional<uint64_t> component;
  // The place of each element the term reads, in term order.
  std::vector<uint32_t> places;
  // Set when the places rise strictly and the occurrence has at most 64:
  // the term then reads through `mask`, bit i for place i, in the same order.
  bool by_mask = false;
  uint64_t mask = 0;
  uint64_t first_position = 0;  // of the term's first element
  size_t rule = 0;
  uint8_t scale = 0;  // the rule's
  bool target = false;
  bool negative = false;
};

// Every term read at one occurrence, and the places they read, by position.
struct OccurrenceFeeds {
  std::vector<Place> places;
  std::vector<Feed> feeds;
  // Every feed reads by mask; bit i of `required` is place i's flag.
  bool by_mask = false;
  uint64_t required = 0;
};

// Where the first target value of a pending sum was read.
struct TargetPlace {
  std::optional<uint64_t> component;
  uint64_t segment = 0;
  uint64_t element = 0;
  std::string text;
};

// One rule in one open instance of its "per" loop.
struct Pending {
  i128 target = 0;
  i128 sum = 0;
  // `first_target` is meaningful once `first_seen` is set; its text buffer is
  // kept between instances.
  TargetPlace first_target;
  bool first_seen = false;
  std::vector<uint64_t> segments;
  size_t rule = 0;
  size_t depth = 0;
  // The pending sum of the same rule this one hides, or kNone.
  size_t shadowed = 0;
  bool target_seen = false;
  bool failed = false;
};

class Balances {
 public:
  // `bases`: the flat occurrence index of each loop's first occurrence.
  Balances(const spec::Spec& spec, std::span<const size_t> bases);

  // After an instance of `loop` was pushed at `depth` of the open stack.
  void open(LoopId loop, size_t depth);

  // A segment placed as flat occurrence `flat`, with the amounts already
  // parsed of it, if any. Inline: most occurrences feed no sum.
  void feed(size_t flat, const Segment& segment, const Amounts* amounts = nullptr) {
    if (flat < feeds_.size() && !feeds_[flat].feeds.empty())
      feed_terms(feeds_[flat], segment, amounts);
  }

  // Takes off every pending of an instance at `depth` or deeper, innermost
  // first, and calls `report(pending)` for each one that must be reported.
  template <class F>
  void close(size_t depth, F&& report) {
    while (live_ > 0 && pending_[live_ - 1].depth >= depth) {
      Pending& p = pending_[--live_];
      innermost_[p.rule] = p.shadowed;
      if (p.target_seen && !p.failed && p.target != p.sum) report(p);
    }
  }

  // Drops every pending sum.
  void reset();

  static constexpr size_t kNone = static_cast<size_t>(-1);

 private:
  enum class Read : uint8_t { Missing, Value, Invalid };

  void feed_terms(const OccurrenceFeeds& occurrence, const Segment& segment,
                  const Amounts* amounts);
  // The pending sum `feed` adds to, with the segment noted; null when its
  // rule has none open.
  Pending* pending_for(const Feed& feed, const Segment& segment);
  void add(Pending& p, const Feed& feed, const i128& value);
  static Read read(const Place& place, const Segment& segment, const Amounts* amounts,
                   i128& value);

  std::vector<OccurrenceFeeds> feeds_;  // by flat occurrence index
  // The values and reads of the current segment's places, by place.
  std::vector<i128> values_;
  std::vector<Read> reads_;
  std::vector<std::vector<size_t>> per_;     // rule indices by "per" loop
  // By rule: the innermost live pending sum, or kNone; each pending keeps
  // the one it hides, so that no feed searches the stack.
  std::vector<size_t> innermost_;
  // The first live_ entries are the pending sums of the open instances, in
  // the order they opened; entries past live_ keep their buffers for reuse.
  std::vector<Pending> pending_;
  size_t live_ = 0;
};

}  // namespace zarvi_core::check::balance
