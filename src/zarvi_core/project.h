// Projector: the second stage of every segment step. It follows the loop
// engine's events with its own stack of open instances, chooses the
// occurrence of each placed segment, and checks every defined element value
// against the spec. It refers to the Spec, which must outlive it; returned
// diagnostics stay valid until its next call.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "zarvi_core/column/table.h"
#include "zarvi_core/delimiters.h"
#include "zarvi_core/diagnostic.h"
#include "zarvi_core/engine.h"
#include "zarvi_core/project/plan.h"
#include "zarvi_core/segment.h"
#include "zarvi_core/spec/spec.h"

namespace zarvi_core::project {

class Projector {
 public:
  Projector(const spec::Spec& spec, const Delimiters& delimiters);

  // Processes one segment's events in order; returns this step's diagnostics.
  const std::vector<Diagnostic>& on(std::span<const engine::Event> events,
                                    const Segment& segment);

  // The occurrence chosen for the segment of the last `on`: an index into the
  // occurrences of the loop it was placed in, or none.
  std::optional<size_t> matched() const { return matched_; }

  // Closes every open instance and resets for a new input.
  const std::vector<Diagnostic>& finish();

  // Appends the rows gathered so far, one table per spec table in table
  // order; row counters and rows in progress are kept.
  void take_rows(std::vector<column::Table>& out);

 private:
  struct OpenLoop {
    LoopId loop = 0;
    uint64_t ordinal = 0;
  };

  void on_placed(LoopId loop, const Segment& segment);
  void check_elements(const SegmentPlan& plan, const Segment& segment);
  void check_composite(const ElementPlan& plan, const Segment& segment);
  void check_value(std::string_view text, const spec::ElementDef& def, const Segment& segment,
                   uint64_t element, std::optional<uint64_t> component);
  void report(Rule rule, const Segment& segment, uint64_t element,
              std::optional<uint64_t> component, std::string_view datum);

  const spec::Spec* spec_;
  char component_;
  Plans plans_;
  std::optional<size_t> matched_;
  LoopId matched_loop_ = 0;
  std::vector<uint64_t> ordinals_;
  std::vector<OpenLoop> open_;
  std::vector<Diagnostic> diagnostics_;
  std::string text_buffer_;
  std::vector<column::Table> tables_;
};

}  // namespace zarvi_core::project
