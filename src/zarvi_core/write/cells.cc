#include "zarvi_core/write/cells.h"

#include "zarvi_core/text.h"
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

// The digits of `magnitude` with a point `scale` digits from the right (at
// least one digit before it), trailing fraction zeros and a bare point left
// out, written before `end`; returns the first byte.
char* digits(char* end, uint64_t magnitude, uint8_t scale) {
  char* p = end;
  bool fraction = false;  // a fraction digit has been kept
  for (unsigned place = 0; place < scale; ++place) {
    const char d = static_cast<char>('0' + magnitude % 10);
    magnitude /= 10;
    if (fraction || d != '0') {
      *--p = d;
      fraction = true;
    }
  }
  if (fraction) *--p = '.';
  do {
    *--p = static_cast<char>('0' + magnitude % 10);
    magnitude /= 10;
  } while (magnitude != 0);
  return p;
}

void append_int(std::string& out, int64_t value) {
  char buf[24];
  char* const end = buf + sizeof buf;
  // The magnitude in unsigned arithmetic, so the most negative value has one.
  const uint64_t magnitude = value < 0 ? uint64_t{0} - static_cast<uint64_t>(value)
                                       : static_cast<uint64_t>(value);
  char* p = digits(end, magnitude, 0);
  if (value < 0) *--p = '-';
  out.append(p, end);
}

}  // namespace

void append_decimal(std::string& out, i128 value, uint8_t scale) {
  // Most amounts fit 64 bits and a few places: digits without 128-bit
  // division.
  if (value > -i128(UINT64_MAX) && value < i128(UINT64_MAX) && scale <= 19) {
    char buf[48];
    char* const end = buf + sizeof buf;
    const uint64_t magnitude = static_cast<uint64_t>(value < 0 ? -value : value);
    char* p = digits(end, magnitude, scale);
    if (value < 0) *--p = '-';
    out.append(p, end);
    return;
  }
  const size_t start = out.size();
  append_amount(out, value, scale);
  if (scale == 0) return;
  // Trailing fraction zeros say nothing an element needs; a point with no
  // digit after it goes too.
  size_t end = out.size();
  while (end > start && out[end - 1] == '0') --end;
  if (end > start && out[end - 1] == '.') --end;
  out.resize(end);
}

Outcome render(const column::ColumnView* column, size_t row, std::optional<uint64_t> max,
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

std::string shown(const column::ColumnView& column, size_t row) {
  const std::optional<column::Cell> cell = column.get(row);
  if (cell && cell->kind() == column::Cell::Kind::Binary)
    return quote_bytes(lossy_utf8(cell->bytes()));
  return column.render(row).value_or(std::string());
}

DelimiterSet::DelimiterSet(const envelope::DelimiterList& list) : list_(&list) {
  for (const envelope::Delimiter& d : list) is_delimiter_[static_cast<unsigned char>(d.byte)] = true;
}

}  // namespace zarvi_core::write::cells
