// EnvelopeChecker: the validator of the segment processor. Driven by the loop
// engine's events and the occurrence the projector chose, it reports the byte
// order mark, unplaced segments, implicit and unterminated loops, envelope
// controls, occurrence and loop limits, order, required parts and balancing
// sums as Diagnostics. It refers to the Spec, which must outlive it; the
// diagnostics it returns stay valid until its next call.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "zarvi_core/check/balance.h"
#include "zarvi_core/check/occurrences.h"
#include "zarvi_core/delimiters.h"
#include "zarvi_core/diagnostic.h"
#include "zarvi_core/engine.h"
#include "zarvi_core/segment.h"
#include "zarvi_core/spec/spec.h"

namespace zarvi_core::check {

using spec::LoopId;

// One open loop instance as the checker sees it.
struct Open {
  // The opening segment, when the instance opened by its own trigger.
  std::optional<uint64_t> opened;
  std::optional<occurrences::OrderRecord> last;
  std::optional<occurrences::OrderRecord> highest_closed;
  // The opener control element's bytes, for a control loop opened by its
  // trigger whose opener element exists.
  std::optional<std::string> opener_value;
  LoopId loop = 0;
  uint64_t ordinal = 0;
  uint64_t counter_at_open = 0;
  uint64_t children = 0;
  size_t base = 0;
  bool implicit = false;
  bool end_seen = false;
};

class EnvelopeChecker {
 public:
  EnvelopeChecker(const spec::Spec& spec, const Delimiters& delimiters);

  // One segment: its engine events and the occurrence chosen for it (an index
  // into the occurrences of the loop it was placed in).
  const std::vector<Diagnostic>& on_matched(const Segment& segment,
                                            std::span<const engine::Event> events,
                                            std::optional<size_t> occurrence);

  // End of the stream: closes every open instance and runs the end checks;
  // the checker can then read another stream.
  const std::vector<Diagnostic>& finish();

 private:
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
  [[gnu::cold]] void unknown_segment(const Segment& segment);
  void on_segment(const Segment& segment, LoopId loop, std::optional<size_t> occurrence);
  void count_occurrence(const Segment& segment, LoopId loop, size_t occurrence);
  // For a segment whose id ends its loop.
  void check_closer(const Segment& segment, LoopId loop);
  void closed(const Segment* segment);

  void report_at(Rule rule, std::optional<uint64_t> segment, std::optional<uint64_t> element,
                 std::optional<uint64_t> component, std::string_view datum);
  void report_at_segment(Rule rule, const Segment& segment);
  void unknown_occurrence(LoopId loop, const Segment& segment);
  void report_missing(const Open& instance, const Segment* segment);
  void balance_mismatch(const balance::Pending& pending, std::optional<uint64_t> opened);
  std::optional<std::string_view> text(const Segment& segment, uint64_t position);

  const spec::Spec* spec_;
  char component_;
  std::vector<Open> open_;
  std::vector<uint64_t> ordinals_;
  occurrences::Limits limits_;
  std::vector<occurrences::Layout> layouts_;
  std::vector<const std::string*> ends_;  // by loop: its end id, or null
  std::vector<std::vector<size_t>> required_;
  std::vector<uint64_t> counters_;
  std::vector<uint64_t> root_counts_;
  balance::Balances balances_;
  std::vector<Diagnostic> diagnostics_;
  LoopPath path_;  // of the last diagnostic
  uint64_t segment_counter_ = 0;
  std::string text_buffer_;
};

}  // namespace zarvi_core::check
