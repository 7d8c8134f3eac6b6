// The emitter: walks the loop tree in layout order, writes each loop
// instance's segments from the bound and nested rows and the envelope, and
// records where every segment and value came from (the traces the read-back
// uses). It never fails: a value it cannot write is a finding and an empty
// element. It borrows the spec, plan, layout, bound tables, nest, envelope
// and delimiter list, which must outlive it; it owns its output, traces and
// findings until they are taken.
#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <tuple>
#include <vector>

#include "zarvi_core/shared.h"
#include "zarvi_core/spec/spec.h"
#include "zarvi_core/write/cells.h"
#include "zarvi_core/write/data.h"
#include "zarvi_core/write/envelope.h"
#include "zarvi_core/write/finding.h"
#include "zarvi_core/write/layout.h"
#include "zarvi_core/write/nest.h"
#include "zarvi_core/write/plan.h"
#include "zarvi_core/write/render.h"
#include "zarvi_core/write/trace.h"
#include "zarvi_core/write/walk.h"

namespace zarvi_core::write::emit {

using spec::LoopId;

class Emitter {
 public:
  Emitter(const spec::Spec& spec, const plan::WritePlan& plan, const layout::Layout& layout,
          const std::vector<data::Data>& data, const nest::Nest& nest,
          const envelope::Envelope& envelope, const envelope::DelimiterList& delimiters);
  // The walk's inputs point at the emitter's own answers.
  Emitter(const Emitter&) = delete;
  Emitter& operator=(const Emitter&) = delete;

  // One context per instance of `loop` under `context`, in order; they refer
  // to `context`.
  std::vector<walk::Context> instances(LoopId loop, const walk::Context& context) const;
  // Writes one instance with its segments and child instances. An implied
  // loop's instance is one only when a child has one: false, and nothing
  // written, when none has.
  bool instance(LoopId loop, const walk::Context& context);
  bool has_data(LoopId loop, size_t table, size_t row) const;
  // The order check: a row of a nested table written after a higher row of
  // the same table is OutOfOrder.
  void enter(size_t table, size_t row);
  // Renders one cell into a pending part, with its trace.
  void push_cell(std::string_view id, uint64_t element, std::optional<uint64_t> component,
                 size_t table, size_t row, size_t column);
  // One DelimiterInValue per delimiter the value holds.
  void check_delimiters(const std::optional<finding::Origin>& origin, std::string_view id,
                        uint64_t element, std::optional<uint64_t> component,
                        std::string_view value);
  // Assembles the pending parts (ascending by element) into one segment and
  // appends it to the output.
  void finish_segment(std::string_view id, std::optional<trace::RowOrigin> origin);

  // Which segments to trace, by index in output order: all of them (the
  // default), or only those listed (sorted, distinct); traces() then holds
  // the listed segments alone, in order. With `keep_output` false the bytes
  // are assembled but not kept: a walk that only traces needs none.
  void trace_only(std::vector<uint64_t> segments, bool keep_output);

  const std::string& output() const { return output_; }
  std::string take_output() { return std::move(output_); }
  const trace::Traces& traces() const { return traces_; }
  const std::vector<finding::Finding>& findings() const { return findings_; }
  std::vector<finding::Finding> take_findings() { return std::move(findings_); }

 private:
  // A pending part holding `text`.
  void push_text(uint64_t element, std::optional<uint64_t> component, std::string_view text);
  void push_empty(uint64_t element, std::optional<uint64_t> component);
  // A value the writer supplies (a code, an envelope value, a count) as a
  // pending part, checked like a cell's; `origin()` gives where a finding
  // points, none for the spec's own codes.
  template <class MakeOrigin>
  void push_value(std::string_view id, uint64_t element, std::optional<uint64_t> component,
                  std::string_view text, MakeOrigin&& origin);
  // The opening segment of a controlled loop, from the envelope.
  void write_opening(LoopId loop, const std::string& id, const std::string& control);
  void write_row(LoopId loop, size_t index, const plan::SegmentPlan& segment, const walk::Context& context);
  void write_repeated(LoopId loop, const plan::SegmentPlan& segment, const walk::Context& context);
  void write_closing(LoopId loop, const std::string& control, uint64_t count);
  void not_writable(std::optional<finding::Origin> origin, std::string value, std::string_view id,
                    uint64_t element, std::optional<uint64_t> component, std::string reason);
  const std::string& segment_id(LoopId loop, const plan::SegmentPlan& segment) const;
  // The element place of a finding, made once per place and shared by every
  // finding there.
  const SharedText& place(std::string_view id, uint64_t element,
                          std::optional<uint64_t> component);
  // Whether segment number `segments_` is traced.
  bool traced_now() const;
  std::optional<column::Cell> cell(size_t table, size_t column, size_t row) const;

  const spec::Spec& spec_;
  const plan::WritePlan& plan_;
  const layout::Layout& layout_;
  const std::vector<data::Data>& data_;
  const nest::Nest& nest_;
  const envelope::Envelope& envelope_;
  std::vector<walk::DataAnswer> answers_;  // by loop; walk's, kept from call to call
  walk::Inputs inputs_;
  cells::DelimiterSet delimiters_;

  std::string output_;
  std::vector<render::Part> parts_;  // of the segment being built
  std::string scratch_;              // the parts' texts
  std::string reason_;               // a failed cell's reason
  trace::Traces traces_;
  uint64_t segments_ = 0;  // written so far
  std::optional<std::vector<uint64_t>> traced_;  // none: every segment
  size_t next_traced_ = 0;  // the first entry of traced_ not yet written
  bool tracing_ = true;     // the segment being built is traced
  bool keep_output_ = true;
  std::vector<finding::Finding> findings_;
  std::vector<uint64_t> counters_;                 // per loop
  std::vector<std::optional<size_t>> last_entered_;  // per table
  SharedFrom shared_;  // names of the spec in findings
  // By (id, element, component or 0).
  std::map<std::tuple<std::string, uint64_t, uint64_t>, SharedText, std::less<>> places_;
};

}  // namespace zarvi_core::write::emit
