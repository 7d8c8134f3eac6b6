#include "zarvi_core/write/cells.h"

#include "zarvi_core/spec/balance.h"
#include "zarvi_core/write/render.h"

namespace zarvi_core::write::cells {

namespace {

// Appends a date or time text, or keeps the reason.
Outcome take(render::Rendered rendered, std::string& out, std::string& reason) {
  if (!rendered.ok()) {
    reason = std::move(rendered.error());
    return Outcome::Failed;
  }
  out += rendered.value();
  return Outcome::Text;
}

void append_int(std::string& out, int64_t value) {
  char buf[24];
  char* end = buf + sizeof buf;
  char* p = end;
  // The magnitude in unsigned arithmetic, so the most negative value has one.
  uint64_t magnitude = value < 0 ? uint64_t{0} - static_cast<uint64_t>(value)
                                 : static_cast<uint64_t>(value);
  do {
    *--p = static_cast<char>('0' + magnitude % 10);
    magnitude /= 10;
  } while (magnitude != 0);
  if (value < 0) *--p = '-';
  out.append(p, end);
}

}  // namespace

void append_decimal(std::string& out, i128 value, uint8_t scale) {
  const size_t start = out.size();
  if (value >= INT64_MIN && value <= INT64_MAX && scale == 0) {
    append_int(out, static_cast<int64_t>(value));
    return;
  }
  spec::append_amount(out, value, scale);
  if (scale == 0) return;
  // Trailing fraction zeros say nothing an element needs; a point with no
  // digit after it goes too.
  size_t end = out.size();
  while (end > start && out[end - 1] == '0') --end;
  if (end > start && out[end - 1] == '.') --end;
  out.resize(end);
}

Outcome render(const column::ColumnData* column, size_t row, std::optional<uint64_t> max,
               std::string& out, std::string& reason) {
  if (column == nullptr) return Outcome::Empty;
  const std::optional<column::Cell> cell = column->get(row);
  if (!cell) return Outcome::Empty;
  switch (cell->kind()) {
    case column::Cell::Kind::Null: return Outcome::Empty;
    case column::Cell::Kind::Binary: out += cell->bytes(); return Outcome::Text;
    // A scale on an int64 column is a label: the integer already holds the
    // element's digits.
    case column::Cell::Kind::Int64: append_int(out, cell->int64()); return Outcome::Text;
    case column::Cell::Kind::Decimal128:
      append_decimal(out, cell->decimal128(), column->type().scale);
      return Outcome::Text;
    case column::Cell::Kind::Date32: return take(render::date_text(cell->date32(), max), out, reason);
    case column::Cell::Kind::Time32: return take(render::time_text(cell->time32(), max), out, reason);
  }
  return Outcome::Empty;
}

DelimiterSet::DelimiterSet(const envelope::DelimiterList& list) : list_(&list) {
  for (const envelope::Delimiter& d : list) is_delimiter_[static_cast<unsigned char>(d.byte)] = true;
}

}  // namespace zarvi_core::write::cells
