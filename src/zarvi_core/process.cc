#include "zarvi_core/process.h"

namespace zarvi_core::process {

Processor::Processor(const spec::Spec& spec, const Delimiters& delimiters)
    : projector_(spec, delimiters), engine_(spec), checker_(spec, delimiters) {}

const Output& Processor::feed(const Segment& segment) {
  output_.diagnostics.clear();
  const std::vector<engine::Event>& events = engine_.feed(segment);
  output_.events.assign(events.begin(), events.end());
  const std::vector<Diagnostic>& projected = projector_.on(events, segment);
  // The checker counts and orders occurrences by the projector's choice, yet
  // its findings come first in the stream.
  const std::vector<Diagnostic>& checked = checker_.on_matched(segment, events, projector_.matched());
  output_.diagnostics.insert(output_.diagnostics.end(), checked.begin(), checked.end());
  output_.diagnostics.insert(output_.diagnostics.end(), projected.begin(), projected.end());
  return output_;
}

const Output& Processor::finish() {
  output_.diagnostics.clear();
  output_.events.clear();
  engine_.close_all(output_.events);
  const std::vector<Diagnostic>& checked = checker_.finish();
  output_.diagnostics.insert(output_.diagnostics.end(), checked.begin(), checked.end());
  const std::vector<Diagnostic>& projected = projector_.finish();
  output_.diagnostics.insert(output_.diagnostics.end(), projected.begin(), projected.end());
  return output_;
}

column::Tables Processor::take_tables() {
  std::vector<column::Table> taken;
  projector_.take_rows(taken);
  return column::Tables(std::move(taken));
}

RunResult Processor::run(const spec::Spec& spec, const Document& document) {
  RunResult result;
  Processor processor(spec, document.delimiters());
  Segment segment;
  for (size_t i = 0; i < document.size(); ++i) {
    const std::optional<Frame> frame = document.frame(i);
    if (!frame) break;
    segment.reparse(i, *frame, document.delimiters());
    const Output& out = processor.feed(segment);
    result.diagnostics.insert(result.diagnostics.end(), out.diagnostics.begin(),
                              out.diagnostics.end());
  }
  const Output& out = processor.finish();
  result.diagnostics.insert(result.diagnostics.end(), out.diagnostics.begin(),
                            out.diagnostics.end());
  result.tables = processor.take_tables();
  return result;
}

}  // namespace zarvi_core::process
