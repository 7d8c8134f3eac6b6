#include "zarvi_core/write/emit.h"

#include <algorithm>
#include <limits>

#include "zarvi_core/column/parse.h"
#include "zarvi_core/document.h"
#include "zarvi_core/text.h"
#include "zarvi_core/write/refusal.h"

namespace zarvi_core::write::emit {

namespace {

constexpr uint64_t kMaxCount = std::numeric_limits<uint64_t>::max();

// The smallest segment with a value at element or component n is n + 3
// bytes: an id byte, n separators (one before each element, or the element's
// separator and one before each later component), the value's byte and the
// terminator. Past this position no file the reader takes holds the value,
// and writing the separators would exhaust memory first.
constexpr uint64_t kMaxPosition = kMaxDocumentBytes - 3;

bool past_any_file(uint64_t element, std::optional<uint64_t> component) {
  return element > kMaxPosition || component.value_or(1) > kMaxPosition;
}

// The origin of a code that the spec alone gives, or of the writer's counts.
std::optional<finding::Origin> no_origin() { return std::nullopt; }

std::string past_any_file_reason(uint64_t element) {
  return element > kMaxPosition
             ? "no file the reader takes holds a segment of that many elements"
             : "no file the reader takes holds an element of that many components";
}

uint64_t saturating_add(uint64_t a, uint64_t b) {
  uint64_t sum;
  return __builtin_add_overflow(a, b, &sum) ? kMaxCount : sum;
}

uint64_t saturating_mul(uint64_t a, uint64_t b) {
  uint64_t product;
  return __builtin_mul_overflow(a, b, &product) ? kMaxCount : product;
}

// The envelope's date as a cell shows it: 2026-01-05, or date32(n) past the
// calendar.
std::string date_display(int32_t days) {
  column::ColumnData c(column::ColumnType::date32());
  c.push_accepted(column::Cell::date32(days));
  return c.render(0).value_or(std::string());
}

// The delimiter that an envelope field's value carries by definition.
std::string_view own_delimiter(const std::optional<finding::Origin>& origin) {
  if (!origin) return {};
  const auto* e = std::get_if<finding::Origin::Envelope>(&origin->data);
  if (e == nullptr) return {};
  for (size_t i = 0; i < envelope::kFieldNames.size(); ++i)
    if (envelope::kFieldNames[i] == e->field)
      return envelope::own_delimiter(static_cast<envelope::Field>(i));
  return {};
}

}  // namespace

Emitter::Emitter(const spec::Spec& spec, const plan::WritePlan& plan, const layout::Layout& layout,
                 const std::vector<data::Data>& data, const nest::Nest& nest,
                 const envelope::Envelope& envelope, const envelope::DelimiterList& delimiters)
    : spec_(spec),
      plan_(plan),
      layout_(layout),
      data_(data),
      nest_(nest),
      envelope_(envelope),
      answers_(spec.loops.size()),
      inputs_{spec, plan, layout, data, nest, &answers_},
      delimiters_(delimiters),
      counters_(spec.loops.size(), envelope.control_number),
      last_entered_(data.size()),
      shared_(spec.weak_from_this().lock()) {}

void Emitter::trace_only(std::vector<uint64_t> segments, bool keep_output) {
  traced_ = std::move(segments);
  next_traced_ = 0;
  while (next_traced_ < traced_->size() && (*traced_)[next_traced_] < segments_) ++next_traced_;
  tracing_ = traced_now();
  keep_output_ = keep_output;
}

bool Emitter::traced_now() const {
  return !traced_ || (next_traced_ < traced_->size() && (*traced_)[next_traced_] == segments_);
}

std::vector<walk::Context> Emitter::instances(LoopId loop, const walk::Context& context) const {
  std::vector<walk::Context> out;
  walk::instances(inputs_, loop, context, out);
  return out;
}

bool Emitter::has_data(LoopId loop, size_t table, size_t row) const {
  return walk::has_data(inputs_, loop, table, row);
}

const std::string& Emitter::segment_id(LoopId loop, const plan::SegmentPlan& segment) const {
  return spec_.loops[loop].occurrences[segment.occurrence].segment;
}

std::optional<column::Cell> Emitter::cell(size_t table, size_t column, size_t row) const {
  const data::Data& d = data_[table];
  if (column >= d.columns.size() || !d.columns[column]) return std::nullopt;
  return d.columns[column]->get(row);
}

void Emitter::enter(size_t table, size_t row) {
  std::optional<size_t>& last = last_entered_[table];
  if (last && row < *last) {
    std::optional<size_t> parent = spec_.tables[table].segment ? nest_.placement(table, row)
                                                               : spec_.tables[table].parent;
    if (parent) {
      finding::Finding::OutOfOrder f;
      f.table = data_[table].name;
      f.row = row;
      f.column = shared_.text(spec_.tables[*parent].ref);
      f.value = data_[table].reference(*parent, row).value_or(0);
      f.last = *last;
      findings_.push_back(finding::Finding{std::move(f)});
    }
  }
  if (!last || row > *last) last = row;
}

void Emitter::push_text(uint64_t element, std::optional<uint64_t> component,
                        std::string_view text) {
  const size_t begin = scratch_.size();
  scratch_ += text;
  parts_.push_back(render::Part{element, component, begin, scratch_.size(), true});
}

void Emitter::push_empty(uint64_t element, std::optional<uint64_t> component) {
  parts_.push_back(render::Part{element, component, scratch_.size(), scratch_.size(), false});
}

void Emitter::not_writable(std::optional<finding::Origin> origin, std::string value,
                           std::string_view id, uint64_t element, std::optional<uint64_t> component,
                           std::string reason) {
  findings_.push_back(finding::Finding{finding::Finding::NotWritable{
      std::move(origin), std::move(value), place(id, element, component), std::move(reason)}});
}

const SharedText& Emitter::place(std::string_view id, uint64_t element,
                                 std::optional<uint64_t> component) {
  const auto key = std::make_tuple(id, element, component.value_or(0));
  auto at = places_.find(key);
  if (at == places_.end())
    at = places_.emplace(key, refusal::place(id, element, component)).first;
  return at->second;
}

void Emitter::push_cell(std::string_view id, uint64_t element, std::optional<uint64_t> component,
                        size_t table, size_t row, size_t column) {
  if (tracing_) traces_.cell(element, component, table, row, column);
  const data::Data& d = data_[table];
  const data::Bound bound = column < d.columns.size() ? d.columns[column] : std::nullopt;
  std::optional<uint64_t> max;
  if (bound && (bound->type().kind == column::ColumnType::Kind::Date32 ||
                           bound->type().kind == column::ColumnType::Kind::Time32)) {
    if (const spec::ElementDef* def = spec_.element_def(id, element, component)) max = def->max;
  }
  const size_t begin = scratch_.size();
  const auto origin = [&] {
    return finding::Origin::cell(d.name, row, shared_.text(spec_.tables[table].columns[column].first));
  };
  switch (cells::render(bound ? &*bound : nullptr, row, max, scratch_, reason_)) {
    case cells::Outcome::Empty: return push_empty(element, component);
    case cells::Outcome::Failed:
      not_writable(origin(), bound->render(row).value_or(""), id, element, component,
                   std::move(reason_));
      return push_empty(element, component);
    case cells::Outcome::Text: break;
  }
  const std::string_view text = std::string_view(scratch_).substr(begin);
  if (past_any_file(element, component) && !text.empty()) {
    scratch_.resize(begin);
    not_writable(origin(), cells::shown(*bound, row), id, element, component,
                 past_any_file_reason(element));
    return push_empty(element, component);
  }
  parts_.push_back(render::Part{element, component, begin, scratch_.size(), true});
  if (delimiters_.any(text)) check_delimiters(origin(), id, element, component, std::string(text));
}

template <class MakeOrigin>
void Emitter::push_value(std::string_view id, uint64_t element, std::optional<uint64_t> component,
                         std::string_view text, MakeOrigin&& origin) {
  if (past_any_file(element, component) && !text.empty()) {
    not_writable(origin(), quote_bytes(text), id, element, component,
                 past_any_file_reason(element));
    return push_empty(element, component);
  }
  if (delimiters_.any(text)) check_delimiters(origin(), id, element, component, text);
  push_text(element, component, text);
}

void Emitter::check_delimiters(const std::optional<finding::Origin>& origin, std::string_view id,
                               uint64_t element, std::optional<uint64_t> component,
                               std::string_view value) {
  const std::string_view own = own_delimiter(origin);
  delimiters_.each(value, own, [&](const envelope::Delimiter& d) {
    findings_.push_back(finding::Finding{finding::Finding::DelimiterInValue{
        origin, place(id, element, component), std::string(value), std::string(d.name),
        d.byte}});
  });
}

void Emitter::finish_segment(std::string_view id, std::optional<trace::RowOrigin> origin) {
  const std::string_view scratch = scratch_;
  uint64_t last = 0;
  for (const render::Part& p : parts_)
    if (p.end > p.begin) last = std::max(last, p.element);
  const char element_sep = envelope_.delimiters.element;
  const char component_sep = envelope_.delimiters.component;
  output_ += id;
  uint64_t written = 0;  // elements written so far
  for (size_t i = 0; i < parts_.size() && parts_[i].element <= last;) {
    const uint64_t e = parts_[i].element;
    size_t j = i;
    bool composite = false;
    while (j < parts_.size() && parts_[j].element == e) composite |= parts_[j++].component.has_value();
    if (e == 0) {  // no such element: nothing to write
      i = j;
      continue;
    }
    output_.append(e - written, element_sep);
    written = e;
    if (!composite) {
      output_ += parts_[i].text(scratch);
    } else {
      // Components 1 to the highest with text; a part without component is
      // component 1, and the first part of a component is the one written.
      const auto number = [](const render::Part& p) { return p.component.value_or(1); };
      const auto by_number = [&](const render::Part& a, const render::Part& b) {
        return number(a) < number(b);
      };
      // Parts come in Part::before order; a stable sort of any other keeps
      // each component's first part first.
      if (!std::is_sorted(parts_.begin() + i, parts_.begin() + j, by_number))
        std::stable_sort(parts_.begin() + i, parts_.begin() + j, by_number);
      uint64_t top = 0;
      for (size_t k = i; k < j; ++k)
        if (parts_[k].end > parts_[k].begin) top = std::max(top, number(parts_[k]));
      size_t k = i;
      for (uint64_t c = 1; c <= top; ++c) {
        if (c > 1) output_ += component_sep;
        while (k < j && number(parts_[k]) < c) ++k;
        if (k < j && number(parts_[k]) == c) output_ += parts_[k].text(scratch);
      }
    }
    i = j;
  }
  output_ += envelope_.delimiters.segment;
  if (envelope_.line_break) output_ += '\n';
  if (!keep_output_) output_.clear();
  if (tracing_) {
    traces_.segment(origin);
    if (traced_) ++next_traced_;
  }
  ++segments_;
  tracing_ = traced_now();
  parts_.clear();
  scratch_.clear();
}

void Emitter::write_opening(LoopId loop, const std::string& id, const std::string& control) {
  const spec::Control& c = *spec_.loops[loop].control;
  const std::vector<envelope::Value> values = envelope::trigger_values(
      spec_, id, static_cast<size_t>(layout_.level(loop).value_or(0)), c.opener_element, control,
      envelope_);
  for (const envelope::Value& v : values) {
    if (v.failure) {
      // Only the date and the time can fail.
      const std::string shown = v.field == envelope::Field::Time
                                    ? "time32(" + std::to_string(envelope_.time) + ")"
                                    : date_display(envelope_.date);
      const std::string_view field =
          envelope::field_name(v.field.value_or(envelope::Field::Date));
      not_writable(finding::Origin::envelope(std::string(field)), shown, id, v.element,
                   std::nullopt, *v.failure);
      push_empty(v.element, std::nullopt);
      continue;
    }
    if (v.field && tracing_) traces_.field(v.element, std::nullopt, *v.field);
    // A fixed code of the spec has no field to point at.
    push_value(id, v.element, std::nullopt, v.text, [&]() -> std::optional<finding::Origin> {
      if (!v.field) return std::nullopt;
      return finding::Origin::envelope(std::string(envelope::field_name(*v.field)));
    });
  }
  finish_segment(id, std::nullopt);
}

void Emitter::write_row(LoopId loop, size_t index, const plan::SegmentPlan& segment,
                        const walk::Context& context) {
  const std::optional<size_t> row = context.row(segment.table);
  if (!row) return;
  bool write = layout_.opens(loop, index);
  for (size_t k = 0; k < segment.elements.size() && !write; ++k)
    if (const auto* c = std::get_if<plan::ColumnValue>(&segment.elements[k].value)) {
      const std::optional<column::Cell> v = cell(segment.table, c->column, *row);
      write = v && !v->is_null();
    }
  if (!write) return;
  const std::string& id = segment_id(loop, segment);
  for (const plan::ElementPlan& e : segment.elements) {
    if (const auto* k = std::get_if<plan::Constant>(&e.value)) {
      push_value(id, e.element, e.component, k->code,
                 [&] { return finding::Origin::row(data_[segment.table].name, *row); });
    } else if (const auto* c = std::get_if<plan::ColumnValue>(&e.value)) {
      push_cell(id, e.element, e.component, segment.table, *row, c->column);
    } else if (const auto* r = std::get_if<plan::RepeatedValue>(&e.value)) {
      push_cell(id, e.element, e.component, segment.table, *row, r->column);
    }
  }
  finish_segment(id, trace::RowOrigin{segment.table, *row});
}

void Emitter::write_repeated(LoopId loop, const plan::SegmentPlan& segment,
                             const walk::Context& context) {
  // The rows were placed under the row of the table anchored on this loop.
  if (plan_.role(loop) != plan::Role::Rows || !plan_.role_table(loop)) return;
  const std::optional<size_t> anchor = context.row(*plan_.role_table(loop));
  if (!anchor) return;
  const size_t t = segment.table;
  const std::span<const size_t> rows = nest_.repeat_rows(t, loop, *anchor);
  if (rows.empty()) return;
  const data::Data& d = data_[t];
  const uint64_t groups = std::max<uint64_t>(layout_.groups(t), 1);
  const uint64_t step = spec_.tables[t].repeat ? spec_.tables[t].repeat->step : 0;
  const std::string& id = segment_id(loop, segment);

  // A row joins the segment of the row before while it belongs to the same
  // segment (equal "segment" values) and holds the same plain values, up to
  // the groups one segment holds.
  auto joins = [&](size_t first, size_t row) {
    if (d.segment) {
      const column::Cell a = d.segment->get(first).value_or(column::Cell::null());
      const column::Cell b = d.segment->get(row).value_or(column::Cell::null());
      if (!(a == b)) return false;
    }
    for (const plan::ElementPlan& e : segment.elements) {
      const auto* c = std::get_if<plan::ColumnValue>(&e.value);
      if (c == nullptr) continue;
      const column::Cell a = cell(t, c->column, first).value_or(column::Cell::null());
      const column::Cell b = cell(t, c->column, row).value_or(column::Cell::null());
      if (!(a == b)) return false;
    }
    return true;
  };

  for (size_t first = 0; first < rows.size();) {
    size_t end = first + 1;
    while (end < rows.size() && end - first < groups && joins(rows[first], rows[end])) ++end;
    for (size_t k = 0; first + k < end; ++k) {
      const size_t row = rows[first + k];
      enter(t, row);
      for (const plan::ElementPlan& e : segment.elements) {
        if (const auto* r = std::get_if<plan::RepeatedValue>(&e.value)) {
          const uint64_t element = saturating_add(e.element, saturating_mul(k, step));
          push_cell(id, element, e.component, t, row, r->column);
        } else if (k > 0) {
          continue;
        } else if (const auto* c = std::get_if<plan::ColumnValue>(&e.value)) {
          push_cell(id, e.element, e.component, t, row, c->column);
        } else if (const auto* k2 = std::get_if<plan::Constant>(&e.value)) {
          push_value(id, e.element, e.component, k2->code,
                     [&] { return finding::Origin::row(d.name, row); });
        }
      }
    }
    std::stable_sort(parts_.begin(), parts_.end(), render::Part::before);
    finish_segment(id, trace::RowOrigin{t, rows[first]});
    first = end;
  }
}

void Emitter::write_closing(LoopId loop, const std::string& control, uint64_t count) {
  const spec::LoopDef& def = spec_.loops[loop];
  const spec::Control& c = *def.control;
  if (tracing_) traces_.field(c.closer_element, std::nullopt, envelope::Field::ControlNumber);
  push_value(*def.end, c.closer_element, std::nullopt, control, [] {
    return finding::Origin::envelope(std::string(field_name(envelope::Field::ControlNumber)));
  });
  push_value(*def.end, c.count_element, std::nullopt, std::to_string(count), no_origin);
  std::stable_sort(parts_.begin(), parts_.end(), render::Part::before);
  finish_segment(*def.end, std::nullopt);
}

bool Emitter::instance(LoopId loop, const walk::Context& context) {
  const spec::LoopDef& def = spec_.loops[loop];
  if (plan_.role(loop) == plan::Role::Rows && plan_.role_table(loop))
    if (const std::optional<size_t> row = context.row(*plan_.role_table(loop)))
      enter(*plan_.role_table(loop), *row);

  std::string control;
  const uint64_t start = segments_;
  if (def.control) {
    const uint64_t number = counters_[loop];
    counters_[loop] = saturating_add(number, 1);
    const spec::ElementDef* opener = spec_.element_def(def.trigger.segment, def.control->opener_element);
    control = envelope::control_text(number, opener ? opener->min : std::nullopt);
  }

  uint64_t children = 0;
  const std::vector<plan::SegmentPlan>& segments = plan_.segments(loop);
  for (const layout::Item& item : layout_.items(loop)) {
    if (item.kind == layout::Item::Kind::Loop) {
      // Writing an implied instance tells whether it is one: asking first
      // would walk its descendants once more at each level of a chain.
      if (plan_.role(item.index) == plan::Role::Implied) {
        if (instance(item.index, context)) children = saturating_add(children, 1);
        continue;
      }
      const std::vector<walk::Context> inner = instances(item.index, context);
      for (const walk::Context& c : inner) instance(item.index, c);
      children = saturating_add(children, inner.size());
      continue;
    }
    const plan::SegmentPlan& segment = segments[item.index];
    switch (segment.source) {
      case plan::Source::Envelope:
        if (def.control) {
          write_opening(loop, segment_id(loop, segment), control);
        } else {
          const std::string& id = segment_id(loop, segment);
          for (const plan::ElementPlan& e : segment.elements)
            if (const auto* k = std::get_if<plan::Constant>(&e.value))
              push_value(id, e.element, e.component, k->code, no_origin);
          finish_segment(id, std::nullopt);
        }
        break;
      case plan::Source::Row: write_row(loop, item.index, segment, context); break;
      case plan::Source::Repeated: write_repeated(loop, segment, context); break;
    }
  }

  if (def.control && def.end) {
    const uint64_t count = def.control->count == spec::Count::Segments
                               ? saturating_add(segments_ - start, 1)
                               : children;
    write_closing(loop, control, count);
  }
  return plan_.role(loop) != plan::Role::Implied || children > 0;
}

}  // namespace zarvi_core::write::emit
