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

#include "zarvi_core/spec/spec.h"
#include "zarvi_core/write/plan.h"
#include "zarvi_core/write/refusal.h"

namespace zarvi_core::write::build {

using spec::LoopId;

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

Resolution resolve(const spec::Spec& spec, const spec::LoopDef& loop, std::string_view segment,
                   std::span<const spec::Condition> conditions);

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
  void required_elements(LoopId loop, plan::SegmentPlan& plan);
  const std::string& column_name(std::size_t table, std::size_t column) const;

  const spec::Spec& spec_;
  std::vector<plan::LoopPlan> loops_;
  std::vector<refusal::Refusal> refusals_;
  std::vector<bool> refused_;  // by table
  std::vector<std::pair<std::size_t, LoopId>> repeats_;  // (segment table, loop)
  std::vector<plan::Unwritten> unwritten_;
  std::map<Key, std::vector<Entry>> entries_;
};

}  // namespace zarvi_core::write::build
