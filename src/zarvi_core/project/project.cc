#include "zarvi_core/project/project.h"

#include <algorithm>
#include <limits>

#include "zarvi_core/assert.h"
#include "zarvi_core/column/parse.h"
#include "zarvi_core/saturating.h"
#include "zarvi_core/text.h"

namespace zarvi_core::project {

namespace {

using engine::Event;

// The length of a value that converted to its column type: numbers (N is
// int64, R decimal128) count their digits only, and such a text is an
// optional sign, digits and (R) at most one point.
uint64_t value_length(std::string_view text, column::ColumnType::Kind kind) {
  using K = column::ColumnType::Kind;
  if (kind != K::Int64 && kind != K::Decimal128) return text.size();
  uint64_t length = text.size() - (text.front() == '-');
  if (kind == K::Decimal128 && text.find('.') != std::string_view::npos) --length;
  return length;
}

// Writes the value a column of this type keeps for an element's text: any
// text as binary; null for no text, and for empty or invalid text of
// another type.
void write_text(rows::RowWriter& row, column::ColumnType type,
                const std::optional<std::string_view>& text) {
  using K = column::ColumnType::Kind;
  if (!text || (type.kind != K::Binary && text->empty())) return row.null();
  switch (type.kind) {
    case K::Binary: return row.binary(*text);
    case K::Int64:
      if (const auto v = column::parse::parse_int64(*text)) return row.value(*v);
      break;
    case K::Decimal128: {
      i128 v;
      if (column::parse::parse_r_to(*text, type.scale, v)) return row.value(v);
      break;
    }
    case K::Date32: {
      int32_t days;
      if (column::parse::parse_date32(*text, days)) return row.value(days);
      break;
    }
    case K::Time32:
      if (const auto t = column::parse::parse_tm(*text))
        return row.value(static_cast<int32_t>(*t));
      break;
  }
  row.null();
}

}  // namespace

Projector::Projector(const spec::Spec& spec, const Delimiters& delimiters, Rows rows)
    : spec_(&spec),
      component_(delimiters.component),
      rows_(rows),
      plans_(spec),
      ordinals_(spec.loops.size(), 0),
      loop_tables_(spec.loops.size()) {
  shares_ = Shares(spec.weak_from_this().lock());
  plan::CarryRegistrations carries(spec.loops.size());
  const spec::LoopIndex index(spec.loops, spec.roots);
  for (size_t t = 0; t < spec.tables.size(); ++t) {
    const spec::TableDef& def = spec.tables[t];
    const auto columns = plan::table_columns(spec, def);
    TableState state{column::table::Table(def.name, columns)};
    for (const auto& [name, source] : def.columns) {
      ColumnWriter w;
      w.type = plan::column_type(spec, def, source);
      if (std::holds_alternative<spec::SegmentIndexSource>(source)) {
        w.source = ColumnWriter::Source::Index;
      } else if (const auto* e = std::get_if<spec::ElementSource>(&source)) {
        w.source = ColumnWriter::Source::Element;
        w.element = e->element;
        w.component = e->component;
      } else if (const auto* g = std::get_if<spec::GroupElementSource>(&source)) {
        w.source = ColumnWriter::Source::Group;
        w.element = g->offset;
        w.component = g->component;
      }
      state.types.push_back(w.type);
      state.writers.push_back(w);
    }
    state.keys.resize(def.chain.size());
    state.slots.resize(def.columns.size());
    if (def.segment) state.joined.resize(def.columns.size());
    if (def.segment) {
      for (LoopId anchor : def.loops)
        if (!plans_.add_segment_table(*def.segment, anchor, t))
          loop_tables_[anchor].segment_tables.push_back(t);
    } else {
      for (LoopId anchor : def.loops) loop_tables_[anchor].anchored = t;
      state.carried = plans_.watch_columns(spec, index, t, carries);
    }
    plans_.mark_columns(def);
    tables_.push_back(std::move(state));
  }
  plans_.mark_balanced(spec);
  for (LoopId l = 0; l < spec.loops.size(); ++l) loop_tables_[l].carries = std::move(carries[l]);
  plans_.index_placed();
}

const std::vector<Diagnostic>& Projector::on(std::span<const Event> events,
                                             const Segment& segment) {
  diagnostics_.clear();
  matched_.reset();
  matched_slot_.reset();
  amounts_.clear();
  for (const Event& event : events) {
    switch (event.kind) {
      case Event::Kind::Open:
        on_open(event.loop, event.segment);
        break;
      case Event::Kind::Close:
        on_close();
        break;
      case Event::Kind::Segment:
        on_placed(event.loop, segment);
        break;
      case Event::Kind::Unplaced:
      case Event::Kind::Empty:
        break;
    }
  }
  return diagnostics_;
}

void Projector::on_open(LoopId loop, uint64_t segment) {
  if (!ZARVI_VERIFY(loop < ordinals_.size())) return;
  saturating_increment(ordinals_[loop]);
  open_.push_back(OpenLoop{loop, ordinals_[loop]});
  const LoopTables& lt = loop_tables_[loop];
  for (const auto& [t, c] : lt.carries) tables_[t].carried[c].value.clear();
  if (!lt.anchored) return;
  TableState& state = tables_[*lt.anchored];
  state.number = next_row(state);
  state.segment = segment;
  fill_keys(spec_->tables[*lt.anchored], state);
  for (carry::Held& slot : state.slots) slot.clear();
  for (const carry::Carried& c : state.carried)
    if (c.value.is_set()) state.slots[c.column] = c.value;
  state.pending = true;
}

void Projector::on_close() {
  if (!ZARVI_VERIFY(!open_.empty())) return;
  const LoopId loop = open_.back().loop;
  open_.pop_back();
  const std::optional<size_t> t = loop_tables_[loop].anchored;
  if (t && tables_[*t].pending) {
    tables_[*t].pending = false;
    append_row(*t);
  }
}

uint64_t Projector::next_row(TableState& state) {
  const uint64_t number = state.counter;
  saturating_increment(state.counter);
  return number;
}

void Projector::fill_keys(const spec::TableDef& def, TableState& state) {
  for (size_t i = 0; i < def.chain.size() && i < state.keys.size(); ++i) {
    const TableState& outer = tables_[def.chain[i]];
    state.keys[i].reset();
    if (outer.pending) state.keys[i] = static_cast<int64_t>(outer.number);
  }
}

// Inline into on, as is choose_occurrence here: every segment takes both.
[[gnu::always_inline]] inline void Projector::on_placed(LoopId loop, const Segment& segment) {
  // Most segments: one lookup by id and loop finds what choosing reads.
  const plan::Placed* placed = plans_.placed(segment.id_key(), loop);
  const plan::SegmentPlan* plan = placed != nullptr ? placed->plan : plans_.get(segment.id());
  if (plan == nullptr) {
    // A segment without a plan (such as an end segment the spec neither
    // defines nor names) can still make rows of a segment table.
    if (ZARVI_VERIFY(loop < loop_tables_.size()))
      segment_rows(loop_tables_[loop].segment_tables, segment, false);
    return;
  }
  std::span<const size_t> tables;
  const plan::InLoop* in;
  if (placed != nullptr) {
    choose_occurrence(placed->chooser, segment);
    tables = placed->segment_tables;
    in = placed->in;
  } else {
    in = plan->in(loop);
    if (in != nullptr) {
      choose_occurrence(in->chooser, segment);
      tables = in->segment_tables;
    }
  }
  check_elements(*plan, segment);
  if (plan->feeds) feed_watchers(*plan, in, segment);
  if (!tables.empty()) segment_rows(tables, segment, true);
}

[[gnu::always_inline]] inline void Projector::choose_occurrence(const plan::Chooser& chooser,
                                                                const Segment& segment) {
  if (const plan::Choice* c = chooser.choose(segment)) {
    matched_ = c->occurrence;
    matched_slot_ = c->slot;
  }
}

// Inline into both loops of feed_watchers: most segments feed a few columns.
[[gnu::always_inline]] inline void Projector::feed(const plan::Watcher& w, const Segment& segment) {
  TableState& state = tables_[w.table];
  carry::Held* target;
  if (w.carried) {
    target = &state.carried[*w.carried].value;
  } else {
    if (!state.pending) return;
    target = &state.slots[w.column];
  }
  switch (w.pick.kind) {
    case spec::Pick::Kind::First:
      if (target->is_set()) return;
      break;
    case spec::Pick::Kind::Nth:
      if (target->count_pick() != w.pick.n) return;
      break;
    case spec::Pick::Kind::Last:
      break;
  }
  if (w.index) return target->set_int64(static_cast<int64_t>(segment.index()));
  const std::optional<std::string_view> text =
      text_of(segment, w.element, w.component, text_buffer_);
  if (text)
    if (const i128* amount = shared(w.element, w.type)) return target->set_amount(*amount);
  target->set_text(w.type, text);
}

void Projector::feed_watchers(const plan::SegmentPlan& plan, const plan::InLoop* in,
                              const Segment& segment) {
  if (in != nullptr) {
    for (const plan::Watcher& w : in->watchers) {
      bool holds = true;
      for (const auto& [position, code] : w.where) {
        const Element* e = segment.element(position);
        holds = holds && e != nullptr && !e->is_composite() && same_bytes(e->value(), code);
      }
      if (holds) feed(w, segment);
    }
  }
  // Only slots up to the last one with watchers have a list.
  if (matched_slot_ && *matched_slot_ < plan.occurrence_watchers.size())
    for (const plan::Watcher& w : plan.occurrence_watchers[*matched_slot_]) feed(w, segment);
}

void Projector::segment_rows(std::span<const size_t> tables, const Segment& segment,
                             bool planned) {
  for (size_t t : tables) {
    const spec::TableDef& def = spec_->tables[t];
    if (!planned && (!def.segment || segment.id() != std::string_view(*def.segment))) continue;
    if (!def.repeat) {
      segment_row(t, segment, std::nullopt);
      continue;
    }
    const uint64_t present = segment.elements().size();
    for (uint64_t g = def.repeat->from; g >= 1 && g <= present;) {
      const Element& e = segment.elements()[g - 1];
      bool filled = !e.value().empty();
      for (const Bytes& part : e.components()) filled = filled || !part.view().empty();
      if (filled) segment_row(t, segment, g);
      if (__builtin_add_overflow(g, def.repeat->step, &g)) break;
    }
  }
}

// Inline: every row starts here, and the writer then stays in registers.
[[gnu::always_inline]] inline void Projector::start_row(rows::RowWriter& row, const TableState& state) {
  row.value(static_cast<int64_t>(state.number));
  row.value(static_cast<int64_t>(state.segment));
  for (const std::optional<int64_t>& key : state.keys) {
    if (key)
      row.value(*key);
    else
      row.null();
  }
}

void Projector::segment_row(size_t t, const Segment& segment, std::optional<uint64_t> group) {
  const spec::TableDef& def = spec_->tables[t];
  TableState& state = tables_[t];
  state.number = next_row(state);
  state.segment = segment.index();
  fill_keys(def, state);
  // Values go straight into the columns before the segment changes: texts
  // borrow the segment's bytes, or a joined composite's from the column's
  // buffer.
  rows::RowWriter row = row_writer(state);
  start_row(row, state);
  for (size_t c = 0; c < state.writers.size(); ++c) {
    const ColumnWriter& w = state.writers[c];
    std::optional<std::string_view> text;
    uint64_t position = w.element;
    switch (w.source) {
      case ColumnWriter::Source::Index:
        row.value(static_cast<int64_t>(segment.index()));
        continue;
      case ColumnWriter::Source::Element:
        text = text_of(segment, position, w.component, state.joined[c]);
        break;
      case ColumnWriter::Source::Group:
        if (group && !__builtin_add_overflow(*group, w.element, &position))
          text = text_of(segment, position, w.component, state.joined[c]);
        break;
      case ColumnWriter::Source::None:
        break;
    }
    if (text)
      if (const i128* amount = shared(position, w.type)) {
        row.value(*amount);
        continue;
      }
    write_text(row, w.type, text);
  }
  end_row(row, state);
}

void Projector::append_row(size_t t) {
  TableState& state = tables_[t];
  rows::RowWriter row = row_writer(state);
  start_row(row, state);
  for (const carry::Held& slot : state.slots) slot.write_to(row);
  end_row(row, state);
}

void Projector::report_dropped(TableState& state) {
  if (state.shared_columns.empty()) {
    state.shared_name = state.table.name();
    for (const auto& column : state.table.columns()) state.shared_columns.push_back(column.name);
  }
  for (const rows::Dropped& d : dropped_)
    report_at(Rule{Rule::ValueDropped{state.shared_columns[d.column], state.shared_name,
                                      d.total}},
              state.segment, std::nullopt, std::nullopt, d.value.bytes());
  dropped_.clear();
}

void Projector::check_elements(const plan::SegmentPlan& plan, const Segment& segment) {
  const std::span<const Element> present = segment.elements();
  const plan::ElementPlan* const first = plan.elements.data();
  const plan::ElementPlan* const end = first + plan.elements.size();
  const plan::ElementPlan* const required_end = first + plan.required_end;
  for (const plan::ElementPlan* element = first; element != end; ++element) {
    const uint64_t position = element->position;
    // Absent (position 0 is never present): only a required element reports.
    if (position - 1 >= present.size()) {
      if (position > present.size() && element >= required_end) break;
      if (element->composite)
        check_composite(*element, segment);
      else if (element->value.required)
        check_value({}, element->value, segment, position, std::nullopt);
      continue;
    }
    if (element->composite) {
      check_composite(*element, segment);
      continue;
    }
    const Element& e = present[position - 1];
    if (e.is_composite()) {
      const std::string_view joined = *segment.text(position, component_, text_buffer_);
      check_value(joined, element->value, segment, position, std::nullopt);
      continue;
    }
    // Most defined elements are empty or valid.
    const std::string_view text = e.value();
    if (text.empty() ? element->value.required : !valid_text(text, element->value, position))
      check_value(text, element->value, segment, position, std::nullopt);
  }
}

void Projector::check_composite(const plan::ElementPlan& plan, const Segment& segment) {
  // A simple data element counts as a composite of one component.
  const Element* e = segment.element(plan.position);
  std::span<const Bytes> parts;
  std::string_view single;
  size_t present = 0;
  bool any = false;
  const bool composite = e != nullptr && e->is_composite();
  if (composite) {
    parts = e->components();
    present = parts.size();
    any = std::any_of(parts.begin(), parts.end(), [](const Bytes& p) { return !p.view().empty(); });
  } else if (e != nullptr) {
    single = e->value();
    present = 1;
    any = !single.empty();
  }
  auto component = [&](uint64_t c) -> std::string_view {
    if (c - 1 >= present) return {};  // c is 0 or absent
    return composite ? parts[c - 1].view() : single;
  };
  if (!any || present > plan.declared_components) {
    report_composite(plan, segment, any, present, component(plan.declared_components + 1));
    if (!any) return;
  }
  for (size_t i = 0; i < plan.components.size(); ++i) {
    const plan::ComponentPlan& c = plan.components[i];
    if (c.position > present && i >= plan.required_components_end) break;
    const std::string_view text = component(c.position);
    // An empty component reports only when required.
    if (text.empty() ? c.value.required : !valid_text(text, c.value))
      check_value(text, c.value, segment, plan.position, c.position);
  }
}

void Projector::report_composite(const plan::ElementPlan& plan, const Segment& segment, bool any,
                                 uint64_t present, std::string_view extra_text) {
  if (!any) {
    if (plan.value.required)
      report(Rule{Rule::RequiredElementMissing{place(segment, plan.position),
                                               shares_.text(plan.value.def->name)}},
             segment, plan.position, std::nullopt, {});
    return;
  }
  const uint64_t extra = plan.declared_components + 1;
  report(Rule{Rule::CompositeShape{place(segment, plan.position, extra),
                                   shares_.text(plan.value.def->name), present,
                                   plan.declared_components}},
         segment, plan.position, extra, extra_text);
}

void Projector::check_value(std::string_view text, const plan::ValuePlan& plan,
                            const Segment& segment, uint64_t element,
                            const std::optional<uint64_t>& component) {
  if (text.empty()) {
    if (plan.required)
      report_value(Finding::Missing, text, plan, segment, element, component, 0, nullptr);
    return;
  }
  uint64_t length = text.size();
  // Valid for the type means convertible to a cell of its column type; any
  // text converts to a binary cell. A column parses its value again: the
  // parse is cheaper than looking up this one.
  if (plan.type.kind != column::ColumnType::Kind::Binary) {
    column::Cell cell;
    if (!column::parse::parse_cell(plan.type, text, cell)) {
      report_value(Finding::Type, text, plan, segment, element, component, 0, nullptr);
      return;
    }
    length = value_length(text, plan.type.kind);
  }
  if (length < plan.min_length || length > plan.max_length) {
    report_value(Finding::Length, text, plan, segment, element, component, length, nullptr);
    return;
  }
  const plan::CodeSet* codes = plan.codes_in(matched_slot_);
  if (codes == nullptr || codes->admits(text)) return;
  report_value(Finding::Code, text, plan, segment, element, component, length, codes);
}

void Projector::report_value(Finding finding, std::string_view text, const plan::ValuePlan& plan,
                             const Segment& segment, uint64_t element,
                             const std::optional<uint64_t>& component, uint64_t length,
                             const plan::CodeSet* codes) {
  const spec::ElementDef& def = *plan.def;
  ElementRef here = place(segment, element, component);
  SharedText name = shares_.text(def.name);
  switch (finding) {
    case Finding::Missing:
      return report(Rule{Rule::RequiredElementMissing{std::move(here), std::move(name)}}, segment,
                    element, component, text);
    case Finding::Type:
      return report(Rule{Rule::TypeMismatch{std::move(here), std::move(name), def.type}}, segment,
                    element, component, text);
    case Finding::Length:
      return report(
          Rule{Rule::LengthOutOfRange{std::move(here), std::move(name), length, def.min, def.max}},
          segment, element, component, text);
    case Finding::Code: {
      // One rule per place: a file can repeat a wrong code millions of times.
      const auto key = std::tuple(codes, &*here.id, element, component.value_or(Position::kNone));
      auto at = code_rules_.find(key);
      if (at == code_rules_.end())
        at = code_rules_
                 .emplace(key, Rule::CodeNotInList{std::move(here), std::move(name),
                                                   shares_.list(codes->codes()),
                                                   shares_.text(codes->occurrence())})
                 .first;
      return report(Rule{at->second}, segment, element, component, text);
    }
  }
}

ElementRef Projector::place(const Segment& segment, uint64_t element, Position component) const {
  // Only segments the spec defines have elements to check.
  const auto def = spec_->segments.find(segment.id());
  if (!ZARVI_VERIFY(def != spec_->segments.end()))
    return ElementRef{std::string(segment.id()), element, component};
  return shares_.place(def->first, element, component);
}

void Projector::report(Rule rule, const Segment& segment, uint64_t element,
                       std::optional<uint64_t> component, std::string_view datum) {
  report_at(std::move(rule), segment.index(), element, component, datum);
}

void Projector::report_at(Rule rule, uint64_t segment, std::optional<uint64_t> element,
                          std::optional<uint64_t> component, std::string_view datum) {
  auto name_of = [&](LoopId loop) -> const std::string& { return spec_->loops[loop].name; };
  diagnostics_.push_back(shares_.diagnostic(std::move(rule), segment, element, component, datum,
                                            std::span<const OpenLoop>(open_), name_of));
}

const std::vector<Diagnostic>& Projector::finish() {
  diagnostics_.clear();
  while (!open_.empty()) on_close();
  shares_.reset();
  matched_.reset();
  matched_slot_.reset();
  std::fill(ordinals_.begin(), ordinals_.end(), 0);
  for (TableState& state : tables_) {
    state.counter = 0;
    for (carry::Carried& c : state.carried) c.value.clear();
  }
  return diagnostics_;
}

void Projector::take_rows(std::vector<column::table::Table>& out) {
  // Kept batches keep this list too: no room beyond the tables.
  out.reserve(out.size() + tables_.size());
  for (TableState& state : tables_) out.push_back(state.table.take_rows());
}

}  // namespace zarvi_core::project
