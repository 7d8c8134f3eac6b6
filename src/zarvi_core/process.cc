#include "zarvi_core/process.h"

#include "zarvi_core/assert.h"

namespace zarvi_core::process {

namespace {

// How many segments ahead of the one being read its index entry is fetched;
// its bytes are fetched half as far ahead, once the entry is in.
constexpr size_t kFetchAhead = 16;

template <class Diagnostics>
[[gnu::noinline]] void append_all(Diagnostics& out, const std::vector<Diagnostic>& more) {
  out.insert(out.end(), more.begin(), more.end());
}

// Most steps report nothing; an empty range costs no call.
template <class Diagnostics>
inline void append(Diagnostics& out, const std::vector<Diagnostic>& more) {
  if (!more.empty()) append_all(out, more);
}

}  // namespace

Processor::Processor(const spec::Spec& spec, const Delimiters& delimiters, project::Rows rows)
    : projector_(spec, delimiters, rows), engine_(spec), checker_(spec, delimiters) {}

// Inline: run calls it once per segment.
template <class Diagnostics>
[[gnu::always_inline]] inline void Processor::step(const Segment& segment, Diagnostics& out) {
  // The engine writes straight into the output: no copy per step.
  engine_.feed(segment, output_.events);
  const std::vector<engine::Event>& events = output_.events;
  const std::vector<Diagnostic>& projected = projector_.on(events, segment);
  // The checker counts and orders occurrences by the projector's choice, yet
  // its findings come first in the stream.
  const std::vector<Diagnostic>& checked = checker_.on_matched(segment, events, projector_.matched(), &projector_.amounts());
  append(out, checked);
  append(out, projected);
}

const Output& Processor::feed(const Segment& segment) {
  output_.diagnostics.clear();
  step(segment, output_.diagnostics);
  return output_;
}

const Output& Processor::finish() {
  output_.diagnostics.clear();
  output_.events.clear();
  engine_.close_all(output_.events);
  append(output_.diagnostics, checker_.finish());
  append(output_.diagnostics, projector_.finish());
  return output_;
}

column::table::Tables Processor::take_tables() {
  std::vector<column::table::Table> taken;
  projector_.take_rows(taken);
  return column::table::Tables(std::move(taken));
}

RunResult Processor::run(const spec::Spec& spec, const Document& document, project::Rows rows) {
  RunResult result;
  Processor processor(spec, document.delimiters(), rows);
  Segment segment;
  const std::span<const Body> bodies = document.bodies();
  const std::string_view source = document.source();
  for (size_t i = 0; i < document.size(); ++i) {
    // A step reads and writes so much that the index entries and bytes of
    // the next segments are gone from the caches, and the hardware does not
    // fetch them ahead: ask for them a few steps before they are split.
    if (i + kFetchAhead < bodies.size()) {
      __builtin_prefetch(&bodies[i + kFetchAhead]);
      const uint32_t start = bodies[i + kFetchAhead / 2].start;
      if (start < source.size()) __builtin_prefetch(source.data() + start);
    }
    const std::optional<Frame> frame = document.frame(i);
    // Every index below size() has a frame.
    if (!ZARVI_VERIFY(frame.has_value())) break;
    // Rebuilt from its parts: the segment copying the frame as it came back
    // loaded its views in wide moves from narrow stores made just before,
    // which stalled every segment.
    const Frame plain{std::string_view(frame->raw.data(), frame->raw.size()),
                      std::string_view(frame->body.data(), frame->body.size()), frame->terminated};
    segment.reparse(i, plain, document.delimiters());
    processor.step(segment, result.diagnostics);
  }
  append(result.diagnostics, processor.finish().diagnostics);
  result.tables = processor.take_tables();
  return result;
}

}  // namespace zarvi_core::process
