#include "zarvi_core/write/walk.h"

#include <algorithm>

namespace zarvi_core::write::walk {

namespace {

std::optional<column::Cell> cell_at(const data::Data& table, size_t column, size_t row) {
  if (column >= table.columns.size() || !table.columns[column]) return std::nullopt;
  return table.columns[column]->get(row);
}

bool is_set(const data::Data& table, size_t column, size_t row) {
  const std::optional<column::Cell> cell = cell_at(table, column, row);
  return cell && !cell->is_null();
}

// Whether two rows hold the same cells in the columns (same kind and value,
// null equal to null; absent cells are null).
bool same_cells(const data::Data& table, std::span<const size_t> columns, size_t a, size_t b) {
  for (size_t c : columns) {
    const column::Cell x = cell_at(table, c, a).value_or(column::Cell::null());
    const column::Cell y = cell_at(table, c, b).value_or(column::Cell::null());
    if (!(x == y)) return false;
  }
  return true;
}

}  // namespace

Context Context::with_row(size_t table, size_t row) const {
  Context c;
  c.parent_ = this;
  c.skip_ = table_ == table ? skip_ : this;
  c.table_ = table;
  c.row_ = row;
  return c;
}

Context Context::with_range(const Range& range, size_t first_row) const {
  Context c = with_row(range.table, first_row);
  c.range_ = range;
  return c;
}

std::optional<size_t> Context::row(size_t table) const {
  for (const Context* c = this; c != nullptr; c = c->skip_)
    if (c->table_ == table) return c->row_;
  return std::nullopt;
}

std::optional<Range> Context::range(size_t table) const {
  // A range binds its own table, so only the bindings of `table` can hold it.
  for (const Context* c = this; c != nullptr; c = c->table_ == table ? c->parent_ : c->skip_)
    if (c->range_ && c->range_->table == table) return c->range_;
  return std::nullopt;
}

std::span<const size_t> rows(const Inputs& in, size_t table, const Context& context) {
  std::span<const size_t> list;
  if (const std::optional<size_t> parent = in.spec.tables[table].parent) {
    const std::optional<size_t> p = context.row(*parent);
    if (!p) return {};
    list = in.nest.group(table, *p);
  } else {
    list = in.nest.group(table, 0);
  }
  if (const std::optional<Range> range = context.range(table)) {
    const size_t end = std::min(range->end, list.size());
    const size_t first = std::min(range->first, end);
    list = list.subspan(first, end - first);
  }
  return list;
}

bool has_data(const Inputs& in, LoopId loop, size_t table, size_t row) {
  DataAnswer* answer =
      in.answers != nullptr && loop < in.answers->size() ? &(*in.answers)[loop] : nullptr;
  if (answer != nullptr && answer->known && answer->table == table && answer->row == row)
    return answer->value;
  const bool value = [&] {
    const data::Data& data = in.data[table];
    for (const plan::SegmentPlan& segment : in.plan.segments(loop)) {
      if (segment.source != plan::Source::Row || segment.table != table) continue;
      for (const plan::ElementPlan& element : segment.elements)
        if (const auto* c = std::get_if<plan::ColumnValue>(&element.value))
          if (is_set(data, c->column, row)) return true;
    }
    for (LoopId child : in.spec.loops[loop].children)
      if (in.plan.role(child) == plan::Role::ReadBy && in.plan.role_table(child) == table &&
          has_data(in, child, table, row))
        return true;
    return false;
  }();
  if (answer != nullptr) *answer = DataAnswer{table, row, true, value};
  return value;
}

void instances(const Inputs& in, LoopId loop, const Context& context, std::vector<Context>& out) {
  const std::optional<size_t> table = in.plan.role_table(loop);
  switch (in.plan.role(loop)) {
    case plan::Role::NotWritten: return;
    case plan::Role::Envelope: out.push_back(context); return;
    case plan::Role::Rows:
      if (!table) return;
      for (size_t r : rows(in, *table, context)) out.push_back(context.with_row(*table, r));
      return;
    case plan::Role::ReadBy: {
      if (!table) return;
      const std::optional<size_t> r = context.row(*table);
      if (!r) return;
      if (in.spec.loops[loop].usage == spec::Usage::Required || has_data(in, loop, *table, *r))
        out.push_back(context);
      return;
    }
    case plan::Role::ReadAbove: {
      if (!table) return;
      // Consecutive rows with equal values in the reading columns share one
      // instance. The run's first row is also made current, so that the
      // loop's own segments have a row to be written from (every row of the
      // run holds the same values there).
      const std::span<const size_t> list = rows(in, *table, context);
      const std::vector<size_t>& columns = in.layout.read_columns(loop);
      const size_t offset = context.range(*table) ? context.range(*table)->first : 0;
      for (size_t first = 0; first < list.size();) {
        size_t end = first + 1;
        while (end < list.size() && same_cells(in.data[*table], columns, list[first], list[end]))
          ++end;
        out.push_back(context.with_range(Range{*table, offset + first, offset + end}, list[first]));
        first = end;
      }
      return;
    }
    case plan::Role::Implied: {
      std::vector<Context> inner;
      for (LoopId child : in.spec.loops[loop].children) {
        instances(in, child, context, inner);
        if (!inner.empty()) {
          out.push_back(context);
          return;
        }
      }
      return;
    }
  }
}

}  // namespace zarvi_core::write::walk
