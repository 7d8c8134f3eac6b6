// EnvelopeChecker: the validator of the segment processor. Driven by the loop
// engine's events and the occurrence the projector chose, it reports the byte
// order mark, unplaced segments, implicit and unterminated loops, envelope
// controls, occurrence and loop limits, order, required parts and balancing
// sums as Diagnostics. It refers to the Spec, which must outlive it; the
// diagnostics it returns stay valid until its next call.
#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "zarvi_core/assert.h"
#include "zarvi_core/check/balance.h"
#include "zarvi_core/check/occurrences.h"
#include "zarvi_core/delimiters.h"
#include "zarvi_core/diagnostic.h"
#include "zarvi_core/engine.h"
#include "zarvi_core/saturating.h"
#include "zarvi_core/segment.h"
#include "zarvi_core/spec/spec.h"

namespace zarvi_core::check {

using spec::LoopId;

// One open loop instance as the checker sees it.
struct Open {
  // Provided, so that emplace_back sets each member as declared instead of
  // clearing the whole instance first.
  Open() {}

  // The opening segment, when the instance opened by its own trigger.
  std::optional<uint64_t> opened;
  std::optional<occurrences::OrderRecord> last;
  std::optional<occurrences::OrderRecord> highest_closed;
  LoopId loop = 0;
  uint64_t ordinal = 0;
  uint64_t counter_at_open = 0;
  uint64_t children = 0;
  size_t base = 0;
  bool implicit = false;
  bool end_seen = false;
  // The checker holds the opener control element's bytes, for a control loop
  // opened by its trigger whose opener element exists.
  bool has_opener = false;
};

class EnvelopeChecker {
 public:
  EnvelopeChecker(const spec::Spec& spec, const Delimiters& delimiters);

  // One segment: its engine events, the occurrence chosen for it (an index
  // into the occurrences of the loop it was placed in) and the amounts
  // already parsed of it, if any. Inline, with the counting of a placed
  // segment: the driver calls it for every segment, and most segments do
  // nothing else.
  const std::vector<Diagnostic>& on_matched(const Segment& segment,
                                            std::span<const engine::Event> events,
                                            std::optional<size_t> occurrence,
                                            const Amounts* amounts = nullptr) {
    diagnostics_.clear();
    if (segment.index() == 0) [[unlikely]]
      first_segment(segment);
    for (const engine::Event& event : events) {
      switch (event.kind) {
        case engine::Event::Kind::Open:
          on_open(segment, event);
          break;
        case engine::Event::Kind::Segment:
          on_segment(segment, event.loop, occurrence, amounts);
          break;
        case engine::Event::Kind::Unplaced:
          unknown_segment(segment);
          break;
        case engine::Event::Kind::Close:
          closed(&segment);
          break;
        case engine::Event::Kind::Empty:
          break;
      }
    }
    return diagnostics_;
  }

  // End of the stream: closes every open instance and runs the end checks;
  // the checker can then read another stream.
  const std::vector<Diagnostic>& finish();

 private:
  // What placing a segment in a loop reads, in one place: the flat index of
  // its first occurrence, how many it has and its end id (or null).
  struct LoopStep {
    size_t base = 0;
    size_t occurrences = 0;
    const std::string* end = nullptr;
  };

  // What opening an instance found to report, gathered so that the common
  // case reports nothing and calls nothing.
  struct OpenFindings {
    std::optional<uint64_t> over_max;
    std::optional<occurrences::OrderRecord> after;  // the record the loop came after, out of order
    const std::string* parent_name = nullptr;
    bool opener_missing = false;
  };

  void on_open(const Segment& segment, const engine::Event& event);
  [[gnu::cold]] void report_open(const Segment& segment, const engine::Event& event,
                                 const OpenFindings& findings);
  [[gnu::cold]] void report_occurrence(const Segment& segment, LoopId loop, size_t occurrence,
                                       bool over_max, const occurrences::OrderRecord* previous);
  // The byte order mark test of the first segment.
  void first_segment(const Segment& segment);
  // Counts the segment, which no loop placed.
  [[gnu::cold]] void unknown_segment(const Segment& segment);
  void on_segment(const Segment& segment, LoopId loop, std::optional<size_t> occurrence,
                  const Amounts* amounts) {
    saturating_increment(segment_counter_);
    if (!ZARVI_VERIFY(loop < steps_.size())) return;  // one entry per loop
    const LoopStep& step = steps_[loop];
    if (occurrence)
      count_occurrence(segment, step, loop, *occurrence, amounts);
    else
      unknown_occurrence(loop, segment);
    if (step.end != nullptr && same_bytes(segment.id(), *step.end)) check_closer(segment, loop);
  }
  void count_occurrence(const Segment& segment, const LoopStep& step, LoopId loop, size_t k,
                        const Amounts* amounts) {
    if (!ZARVI_VERIFY(k < step.occurrences)) return;
    // In range: the loop's occurrences follow its base in limits_.entries.
    const size_t flat = step.base + k;
    // A placed segment belongs to the innermost open instance.
    if (ZARVI_VERIFY(!open_.empty() && open_.back().loop == loop &&
                     open_.back().base + k < counters_.size())) {
      Open& instance = open_.back();
      uint64_t& counter = counters_[instance.base + k];
      saturating_increment(counter);
      const occurrences::Limit& limit = limits_.entries[flat];
      const occurrences::OrderRecord* previous =
          occurrences::later_of(instance.highest_closed, instance.last);
      const bool out_of_place = previous != nullptr && previous->position > limit.position;
      if (!out_of_place) instance.last = occurrences::OrderRecord{loop, k, limit.position};
      const bool over_max = limit.max && counter > *limit.max;
      if (over_max || out_of_place)
        report_occurrence(segment, loop, k, over_max, out_of_place ? previous : nullptr);
    }
    balances_.feed(flat, segment, amounts);
  }
  // For a segment whose id ends its loop.
  void check_closer(const Segment& segment, LoopId loop);
  void closed(const Segment* segment);

  void report_at(Rule rule, std::optional<uint64_t> segment, std::optional<uint64_t> element,
                 std::optional<uint64_t> component, std::string_view datum);
  void report_at_segment(Rule rule, const Segment& segment);
  // At the segment that closes an instance, or at none when the stream ends.
  void report_at_close(Rule rule, const Segment* segment);
  [[gnu::cold]] void unknown_occurrence(LoopId loop, const Segment& segment);
  [[gnu::cold]] void unterminated(const Open& instance, const Segment* segment);
  [[gnu::cold]] void report_missing(const Open& instance, const Segment* segment);
  void balance_mismatch(const balance::Pending& pending, std::optional<uint64_t> opened);
  std::optional<std::string_view> text(const Segment& segment, uint64_t position);
  // Texts rendered from the spec once per checker, on first use, and shared
  // by every finding that names them.
  const SharedText& trigger_text(LoopId loop);
  const SharedText& selector_text(LoopId loop, size_t occurrence);
  // The names of a loop's occurrences of one segment id, in order, and the
  // first of them; none when the loop has no occurrence of that id.
  struct SameId {
    const spec::OccurrenceDef* first = nullptr;
    SharedTexts names;
  };
  const SameId* same_id(LoopId loop, std::string_view id);

  const spec::Spec* spec_;
  char component_;
  std::vector<Open> open_;
  // By depth in open_: the opener value of an instance with has_opener; the
  // strings keep their buffers for the next instance at that depth.
  std::vector<std::string> openers_;
  std::vector<uint64_t> ordinals_;
  occurrences::Limits limits_;
  std::vector<occurrences::Layout> layouts_;
  std::vector<LoopStep> steps_;  // by loop
  std::vector<std::vector<size_t>> required_;
  std::vector<uint64_t> counters_;
  std::vector<uint64_t> root_counts_;
  balance::Balances balances_;
  std::vector<Diagnostic> diagnostics_;
  Shares shares_;
  std::vector<SharedText> triggers_;   // by loop, filled on use
  std::vector<SharedText> selectors_;  // by flat occurrence index, filled on use
  std::vector<std::pair<SharedText, SharedText>> terms_;  // by balancing rule, filled on use
  std::vector<std::optional<std::map<std::string_view, SameId>>> same_ids_;  // by loop
  uint64_t segment_counter_ = 0;
  std::string text_buffer_;
};

}  // namespace zarvi_core::check
