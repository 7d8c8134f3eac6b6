// Building the write plan: the planning state and its steps, run in order by
// WritePlan::make. Refusals accumulate across the steps instead of stopping
// at the first. The builder borrows the spec, which must outlive it.
#pragma once

#include <compare>
#include <cstddef>
#include <cstdint>
#include <map>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <variant>
#include <vector>

#include "zarvi_core/spec/loop_index.h"
#include "zarvi_core/spec/spec.h"
#include "zarvi_core/write/plan.h"
#include "zarvi_core/write/refusal.h"

namespace zarvi_core::write::build {

using spec::LoopId;

// An element place, a component or none (which orders first).
using Place = std::pair<uint64_t, std::optional<uint64_t>>;

// One placed column: what it writes and from where.
struct Entry {
  uint64_t element = 0;
  std::optional<uint64_t> component;
  spec::Pick pick;
  std::size_t table = 0;
  std::size_t column = 0;  // among the table's declared columns
};

// Segment plans are made per key, in key order.
struct Key {
  LoopId loop = 0;
  std::size_t occurrence = 0;
  std::size_t table = 0;
  std::vector<spec::Condition> codes;  // the where-codes that select the segment
  friend auto operator<=>(const Key&, const Key&) = default;
  friend bool operator==(const Key&, const Key&) = default;
};

// What a read of a segment id with conditions resolves to in a loop.
struct Resolved {
  std::size_t occurrence = 0;
  std::vector<spec::Condition> codes;  // the conditions to write as fixed codes
};
struct NeverValid {
  std::string place;
  std::string code;
  std::vector<std::string> codes;  // the element's list, which rejects `code`
};
struct Unmatched {
  std::vector<std::string> names;  // the occurrences that match; none: no match
};
using Resolution = std::variant<Resolved, NeverValid, Unmatched>;

// Lookups into one loop's occurrences, so that each column finds its
// occurrence by a search instead of a pass over the loop: by segment id
// with the qualifier codes that tell one id's occurrences apart.
// A loop of few occurrences is passed over instead: sorting them would cost
// more. Borrows the loop, which must outlive it.
class OccurrenceIndex {
 public:
  // Loops of more occurrences than this are sorted.
  static constexpr std::size_t kPassed = 32;

  explicit OccurrenceIndex(const spec::LoopDef& loop);

  // The occurrence the loop's trigger opens on.
  std::optional<std::size_t> trigger() const { return trigger_; }
  // Appends, ascending, the occurrences of `segment` that no condition rules
  // out by their qualifier: every occurrence a read can match, and few more.
  void candidates(std::string_view segment, std::span<const spec::Condition> conditions,
                  std::vector<std::size_t>& out) const;

 private:
  struct Qualified {
    std::string_view segment;
    std::optional<uint64_t> element;  // of the qualifier; none: none on an element
    std::size_t occurrence;
  };
  struct Coded {
    std::string_view segment;
    uint64_t element;
    std::string_view code;
    std::size_t occurrence;
  };

  const spec::LoopDef* loop_;
  std::optional<std::size_t> trigger_;
  // Empty for a loop that is passed over.
  std::vector<Qualified> segments_;   // by segment, element, occurrence
  std::vector<Coded> codes_;          // by segment, element, code, occurrence
};

Resolution resolve(const spec::Spec& spec, const spec::LoopDef& loop, const OccurrenceIndex& index,
                   std::string_view segment, std::span<const spec::Condition> conditions);

class Builder {
 public:
  explicit Builder(const spec::Spec& spec);

  void envelope();
  void anchor();
  void loop_table(std::size_t table);
  void repeat_table(std::size_t table);
  void segments();
  void implied();
  void repeats_placed();
  void required();
  void sort();

  // The plan, or the spec's name with every refusal found.
  plan::Planned finish() &&;

 private:
  // The instance number of each entry of one key, or none when the picks
  // are out of series (refused here).
  std::optional<std::vector<uint64_t>> nths(const Key& key, const std::vector<Entry>& entries);
  void add_qualifier(plan::SegmentPlan& plan, const spec::OccurrenceDef& occurrence) const;
  void check_codes(LoopId loop, const plan::SegmentPlan& plan, std::size_t table,
                   std::optional<std::size_t> column);
  // Adds to `plan` one element per place the entries `instance` (indices
  // into `entries`, ascending) write, a column in the place of a fixed code;
  // an entry whose place an earlier one took is refused.
  void place_entries(const Key& key, const std::vector<Entry>& entries,
                     std::span<const std::size_t> instance, plan::SegmentPlan& plan);
  // A required element, or a required component of a composite.
  struct Required {
    uint64_t element = 0;
    std::optional<uint64_t> component;
    const spec::ElementDef* def = nullptr;
    bool whole = true;  // the element itself is required
  };
  // The segment's required places in place order. A segment of more
  // elements than kListedAfresh is listed once, however many plans write it;
  // the list lives as long as the builder, a shorter one until the next call.
  static constexpr std::size_t kListedAfresh = 32;
  const std::vector<Required>& required_places(const spec::SegmentDef& segment);
  void required_elements(LoopId loop, plan::SegmentPlan& plan);
  const std::string& column_name(std::size_t table, std::size_t column) const;
  const OccurrenceIndex& occurrences(LoopId loop);

  const spec::Spec& spec_;
  const spec::LoopIndex loop_index_;
  std::vector<plan::LoopPlan> loops_;
  std::vector<refusal::Refusal> refusals_;
  std::vector<bool> refused_;  // by table
  std::vector<std::pair<std::size_t, LoopId>> repeats_;  // (segment table, loop)
  std::vector<plan::Unwritten> unwritten_;
  std::map<Key, std::vector<Entry>> entries_;
  // Made on first use.
  std::vector<std::optional<OccurrenceIndex>> indexes_;  // by loop
  std::map<const spec::SegmentDef*, std::vector<Required>> required_;
  // Reused from plan to plan.
  std::vector<std::pair<Place, std::size_t>> fixed_;
  std::vector<std::size_t> by_place_;
  std::vector<std::pair<std::size_t, std::size_t>> twice_;
  std::vector<Place> written_;
  std::vector<Required> listed_;
};

}  // namespace zarvi_core::write::build
