// Processor: the one driver of reading. It owns a loop engine, a projector and
// an envelope checker and runs them over each segment, over a whole Document
// (`run`) or segment by segment (`feed`, `finish`, `take_tables`). It refers to
// the Spec, which the caller keeps alive; the Output of a step stays valid
// until the next `feed` or `finish`.
#pragma once

#include <deque>
#include <vector>

#include "zarvi_core/check/check.h"
#include "zarvi_core/column/table.h"
#include "zarvi_core/delimiters.h"
#include "zarvi_core/diagnostic.h"
#include "zarvi_core/document.h"
#include "zarvi_core/engine.h"
#include "zarvi_core/project/project.h"
#include "zarvi_core/segment.h"
#include "zarvi_core/spec/spec.h"

namespace zarvi_core::process {

// What one step hands out: the engine's events and the step's diagnostics,
// the checker's before the projector's.
struct Output {
  std::vector<engine::Event> events;
  std::vector<Diagnostic> diagnostics;
};

// The tables of a whole run, sorted by name, and every diagnostic in stream
// order. A deque, so that millions of diagnostics are never moved to grow.
struct RunResult {
  column::table::Tables tables;
  std::deque<Diagnostic> diagnostics;
};

class Processor {
 public:
  Processor(const spec::Spec& spec, const Delimiters& delimiters,
            project::Rows rows = project::Rows::Keep);

  const Output& feed(const Segment& segment);
  // End of input: closes every open loop and runs the end-of-stream checks.
  const Output& finish();
  // The rows gathered so far, tables sorted by name; row numbers continue in
  // the next batch.
  column::table::Tables take_tables();

  // With Rows::Drop the tables stay empty; the diagnostics are the same.
  static RunResult run(const spec::Spec& spec, const Document& document,
                       project::Rows rows = project::Rows::Keep);

 private:
  // One segment, its diagnostics appended to `out`.
  template <class Diagnostics>
  void step(const Segment& segment, Diagnostics& out);

  project::Projector projector_;
  engine::LoopEngine engine_;
  check::EnvelopeChecker checker_;
  Output output_;
};

}  // namespace zarvi_core::process
