#include "zarvi_core/write/writer.h"

#include <algorithm>
#include <utility>

#include "zarvi_core/document.h"
#include "zarvi_core/process.h"
#include "zarvi_core/write/cells.h"
#include "zarvi_core/write/data.h"
#include "zarvi_core/write/emit.h"
#include "zarvi_core/write/layout.h"
#include "zarvi_core/write/nest.h"
#include "zarvi_core/write/plan.h"
#include "zarvi_core/write/trace.h"
#include "zarvi_core/write/walk.h"

namespace zarvi_core::write::writer {

namespace {

using finding::Finding;
using finding::WriteError;

// Whether the interchange header carries a repetition separator: the first
// root loop with a control decides, by its trigger segment's element 11 (a
// free element carries one; a code list, as in 4010, or none at all does not).
bool header_repetition(const spec::Spec& spec) {
  for (spec::LoopId root : spec.roots) {
    const spec::LoopDef& loop = spec.loops[root];
    if (!loop.control) continue;
    const spec::ElementDef* e = spec.element_def(loop.trigger.segment, 11);
    return e != nullptr && e->codes.empty();
  }
  return false;
}

// One UnwrittenValue per non-null cell of each column no valid file holds.
void unwritten_values(const spec::Spec& spec, const plan::WritePlan& plan,
                      const std::vector<data::Data>& data, std::vector<Finding>& findings) {
  for (const plan::Unwritten& u : plan.unwritten()) {
    if (u.table >= data.size()) continue;
    const data::Data& table = data[u.table];
    if (u.column >= table.columns.size() || !table.columns[u.column]) continue;
    const column::ColumnView& column = *table.columns[u.column];
    const SharedText name = SharedFrom(spec.weak_from_this().lock())
                                .text(spec.tables[u.table].columns[u.column].first);
    for (size_t row = 0; row < table.rows; ++row) {
      const std::optional<column::Cell> cell = column.get(row);
      if (!cell || cell->is_null()) continue;
      findings.push_back(Finding{Finding::UnwrittenValue{finding::Origin::cell(table.name, row, name),
                                                         cells::shown(column, row), u.place,
                                                         u.code, u.codes}});
    }
  }
}

bool any_delimiter_in_value(const std::vector<Finding>& findings) {
  for (const Finding& f : findings)
    if (f.kind() == finding::Kind::DelimiterInValue) return true;
  return false;
}

// The segment a diagnostic's origin is found from: the one that opened the
// loop instance for the rules about a whole instance, else its own.
struct At {
  std::optional<uint64_t> segment;
  bool whole_instance = false;
};

At origin_segment(const Diagnostic& d) {
  if (const auto* r = d.rule.get_if<Rule::UnterminatedLoop>())
    return {r->opened_at, true};
  if (const auto* r = d.rule.get_if<Rule::RequiredOccurrenceMissing>())
    return {r->opened_at, true};
  if (const auto* r = d.rule.get_if<Rule::RequiredLoopMissing>())
    return {r->opened_at, true};
  return {d.segment, false};
}

}  // namespace

Result<Written, WriteError> write_with_findings(const spec::Spec& spec,
                                                const column::table::Tables& tables,
                                                const envelope::Envelope& envelope) {
  plan::Planned planned = plan::WritePlan::make(spec);
  if (!planned.ok()) return err(WriteError{WriteError::Plan{std::move(planned).error()}});
  const plan::WritePlan& plan = planned.value();

  auto bound = data::bind(spec, tables);
  if (!bound.ok()) return err(std::move(bound).error());
  const std::vector<data::Data>& data = bound.value();

  auto delimiters = envelope::delimiters(envelope, header_repetition(spec));
  if (!delimiters.ok()) return err(std::move(delimiters).error());

  Written written;
  unwritten_values(spec, plan, data, written.findings);
  const nest::Nest nested = nest::nest(spec, plan, data, written.findings);
  const layout::Layout layout(plan, spec);
  const auto emit_all = [&](emit::Emitter& emitter) {
    const walk::Context root;
    for (spec::LoopId loop : spec.roots)
      for (const walk::Context& c : emitter.instances(loop, root)) emitter.instance(loop, c);
  };
  // Traces are needed only where the read-back reports something, which a
  // valid file never does: the first walk traces nothing, and a second walk,
  // only when there are diagnostics, traces the segments they name.
  emit::Emitter emitter(spec, plan, layout, data, nested, envelope, delimiters.value());
  emitter.trace_only({}, true);
  emit_all(emitter);
  std::vector<Finding> emitted = emitter.take_findings();
  written.findings.insert(written.findings.end(), std::make_move_iterator(emitted.begin()),
                          std::make_move_iterator(emitted.end()));
  written.bytes = emitter.take_output();

  // A value holding a delimiter makes the output something else than the
  // tables say: reading it back would only report the damage twice.
  if (any_delimiter_in_value(written.findings)) return written;

  auto document = Document::parse(std::string_view(written.bytes));
  if (!document.ok()) {
    if (written.findings.empty())
      return err(WriteError{WriteError::Unreadable{to_string(document.error())}});
    return written;
  }
  const process::RunResult read =
      process::Processor::run(spec, document.value(), project::Rows::Drop);
  if (read.diagnostics.empty()) return written;

  std::vector<uint64_t> wanted;
  for (const Diagnostic& d : read.diagnostics)
    if (const std::optional<uint64_t> s = origin_segment(d).segment) wanted.push_back(*s);
  std::sort(wanted.begin(), wanted.end());
  wanted.erase(std::unique(wanted.begin(), wanted.end()), wanted.end());
  emit::Emitter tracer(spec, plan, layout, data, nested, envelope, delimiters.value());
  tracer.trace_only(wanted, false);
  emit_all(tracer);

  const SharedFrom shared(spec.weak_from_this().lock());
  const trace::Names names = [&](size_t table, std::optional<size_t> column) -> SharedText {
    if (table >= data.size()) return {};
    if (!column) return data[table].name;
    const auto& columns = spec.tables[table].columns;
    return *column < columns.size() ? shared.text(columns[*column].first) : SharedText();
  };
  for (const Diagnostic& d : read.diagnostics) {
    const At at = origin_segment(d);
    std::optional<finding::Origin> origin;
    if (at.segment) {
      // The tracer holds the wanted segments alone, in order.
      const uint64_t s = static_cast<uint64_t>(
          std::lower_bound(wanted.begin(), wanted.end(), *at.segment) - wanted.begin());
      origin = at.whole_instance ? tracer.traces().origin(s, std::nullopt, std::nullopt, names)
                                 : tracer.traces().origin(s, d.element, d.component, names);
    }
    written.findings.push_back(Finding{Finding::ReadBack{d, std::move(origin)}});
  }
  return written;
}

}  // namespace zarvi_core::write::writer
