#include "zarvi_core/column/column.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <utility>

#include "zarvi_core/column/parse.h"
#include "zarvi_core/saturating.h"
#include "zarvi_core/text.h"

namespace zarvi_core::column {
namespace {

// Mismatch messages show at most this many bytes of a binary value.
constexpr size_t kShownBytes = 32;

bool starts_with_vowel(std::string_view text) {
  return !text.empty() && std::string_view("aeiou").find(text.front()) != std::string_view::npos;
}

std::string_view article(std::string_view text) { return starts_with_vowel(text) ? "an" : "a"; }

// The longest prefix of at most kShownBytes bytes that does not end inside a
// UTF-8 sequence, quoted, and "..." when bytes were cut.
std::string shown_value(std::string_view bytes) {
  size_t cut = bytes.size();
  if (cut > kShownBytes) {
    cut = kShownBytes;
    while (cut > 0 && (static_cast<unsigned char>(bytes[cut]) & 0xC0) == 0x80) --cut;
  }
  std::string out = quote_bytes(bytes.substr(0, cut));
  if (cut < bytes.size()) out += "...";
  return out;
}

std::string value_text(const Cell& cell) {
  switch (cell.kind()) {
    case Cell::Kind::Null: return {};
    case Cell::Kind::Binary: return shown_value(cell.bytes());
    case Cell::Kind::Int64: return std::to_string(cell.int64());
    case Cell::Kind::Decimal128: return render_amount(cell.decimal128(), 0);
    case Cell::Kind::Date32: return std::to_string(cell.date32());
    case Cell::Kind::Time32: return std::to_string(cell.time32());
  }
  return {};
}

void append_date(std::string& out, int32_t days) {
  char buf[32];
  if (days > parse::kMaxCivilDay) {
    std::snprintf(buf, sizeof buf, "date32(%d)", days);
  } else {
    const parse::CivilDate d = parse::civil_from_days(days);
    std::snprintf(buf, sizeof buf, "%04d-%02u-%02u", d.year, unsigned{d.month}, unsigned{d.day});
  }
  out += buf;
}

void append_time(std::string& out, int32_t t) {
  char buf[32];
  if (t >= 0 && t < 86400) {
    std::snprintf(buf, sizeof buf, "%02d:%02d:%02d", t / 3600, t / 60 % 60, t % 60);
  } else {
    std::snprintf(buf, sizeof buf, "time32(%d)", t);
  }
  out += buf;
}

}  // namespace

std::string to_string(const ColumnType& type) {
  switch (type.kind) {
    case ColumnType::Kind::Binary: return "binary";
    case ColumnType::Kind::Int64:
      return type.scale == 0 ? "int64" : "int64 (scale " + std::to_string(type.scale) + ")";
    case ColumnType::Kind::Decimal128:
      return "decimal128(" + std::to_string(type.precision) + ", " +
             std::to_string(type.scale) + ")";
    case ColumnType::Kind::Date32: return "date32";
    case ColumnType::Kind::Time32: return "time32 (seconds)";
  }
  return {};
}

std::string_view kind_name(Cell::Kind kind) {
  switch (kind) {
    case Cell::Kind::Null: return "null";
    case Cell::Kind::Binary: return "binary";
    case Cell::Kind::Int64: return "int64";
    case Cell::Kind::Decimal128: return "decimal128";
    case Cell::Kind::Date32: return "date32";
    case Cell::Kind::Time32: return "time32";
  }
  return {};
}

std::string to_string(const CellError& error) {
  if (error.kind == CellError::Kind::Overflow) {
    return "a binary column holds at most " + std::to_string(kMaxBinaryBytes) +
           " bytes; this value would bring it to " + std::to_string(error.total);
  }
  const std::string column = to_string(error.column);
  const std::string_view cell = kind_name(error.cell);
  std::string out;
  out.append(article(column)).append(" ").append(column).append(" column cannot hold ");
  out.append(article(cell)).append(" ").append(cell).append(" value (");
  out.append(error.value).append(")");
  return out;
}

// ColumnData

ColumnData::ColumnData(ColumnType type) : type_(type) {}

void ColumnData::clear() {
  rows_ = 0;
  nulls_ = 0;
  validity_.clear();
  offsets_.clear();
  values_.clear();
}

size_t ColumnData::packed_size() const {
  return validity_.padded_size() + offsets_.padded_size() + values_.padded_size();
}

ColumnData ColumnData::copy_to(std::byte* at) const {
  ColumnData out(type_);
  out.rows_ = rows_;
  out.nulls_ = nulls_;
  out.validity_ = validity_.copy_to(at);
  at += validity_.padded_size();
  out.offsets_ = offsets_.copy_to(at);
  at += offsets_.padded_size();
  out.values_ = values_.copy_to(at);
  return out;
}

namespace {

size_t value_width(ColumnType::Kind kind) {
  switch (kind) {
    case ColumnType::Kind::Int64: return sizeof(int64_t);
    case ColumnType::Kind::Decimal128: return sizeof(i128);
    default: return sizeof(int32_t);
  }
}

template <class T>
T load_at(const std::byte* base, int64_t index) {
  T v;
  std::memcpy(&v, base + index * static_cast<int64_t>(sizeof(T)), sizeof v);
  return v;
}

}  // namespace

void ColumnData::reserve(size_t rows, size_t bytes) {
  validity_.reserve((rows_ + rows + 7) / 8 - validity_.size());
  if (type_.kind == ColumnType::Kind::Binary) {
    offsets_.reserve((rows + 1) * sizeof(int32_t));
    values_.reserve(bytes);
  } else {
    values_.reserve(rows * value_width(type_.kind));
  }
}

void ColumnData::append_validity(const uint8_t* validity, int64_t from, size_t n) {
  if (n == 0) return;
  const size_t bytes = (rows_ + n + 7) / 8;
  if (bytes > validity_.size()) {
    const size_t fresh = bytes - validity_.size();
    std::memset(validity_.extend(fresh), 0, fresh);
  }
  auto* out = reinterpret_cast<uint8_t*>(&validity_.at(0));
  size_t valid = 0;
  // Eight bits at a time, each byte of the source read only when it holds
  // one of the rows.
  for (size_t k = 0; k < n; k += 8) {
    const unsigned m = static_cast<unsigned>(std::min<size_t>(8, n - k));
    unsigned w = 0xFFu;
    if (validity != nullptr) {
      const int64_t s = from + static_cast<int64_t>(k);
      const unsigned shift = static_cast<unsigned>(s & 7);
      w = validity[s >> 3] >> shift;
      if (shift + m > 8) w |= unsigned{validity[(s >> 3) + 1]} << (8 - shift);
    }
    w &= (1u << m) - 1;
    valid += static_cast<size_t>(__builtin_popcount(w));
    const size_t d = rows_ + k;
    const unsigned at = static_cast<unsigned>(d & 7);
    out[d >> 3] = static_cast<uint8_t>(out[d >> 3] | (w << at));
    if (at + m > 8) out[(d >> 3) + 1] = static_cast<uint8_t>(out[(d >> 3) + 1] | (w >> (8 - at)));
  }
  nulls_ += n - valid;
  rows_ += n;
}

void ColumnData::append_values(const std::byte* values, const uint8_t* validity, int64_t from,
                               size_t n) {
  if (n == 0) return;
  const size_t width = value_width(type_.kind);
  std::byte* out = values_.extend(n * width);
  std::memcpy(out, values + from * static_cast<int64_t>(width), n * width);
  const size_t nulls = nulls_;
  append_validity(validity, from, n);
  if (nulls_ == nulls) return;
  // The values under nulls are whatever the source left there.
  for (size_t k = 0; k < n; ++k) {
    if (!bit(validity, from + static_cast<int64_t>(k))) std::memset(out + k * width, 0, width);
  }
}

template <class O>
void ColumnData::append_offsets(const std::byte* offsets, const std::byte* data,
                                const uint8_t* validity, int64_t from, size_t n) {
  if (n == 0) return;
  if (offsets_.size() == 0) offsets_.push(int32_t{0});
  std::byte* out = offsets_.extend(n * sizeof(int32_t));
  const O first = load_at<O>(offsets, from);
  const int64_t base = static_cast<int64_t>(values_.size());
  // The offsets rebased in one pass; a null row keeps no bytes, so a null
  // over a non-empty range makes the bytes a copy per row.
  int64_t end = base;
  bool gaps = false;
  O start = first;
  for (size_t k = 0; k < n; ++k) {
    const int64_t i = from + static_cast<int64_t>(k);
    const O next = load_at<O>(offsets, i + 1);
    if (bit(validity, i)) {
      end += static_cast<int64_t>(next - start);
    } else {
      gaps |= next != start;
    }
    start = next;
    const int32_t rebased = static_cast<int32_t>(end);
    std::memcpy(out + k * sizeof rebased, &rebased, sizeof rebased);
  }
  if (end == base) {
    append_validity(validity, from, n);
    return;
  }
  std::byte* bytes = values_.extend(static_cast<size_t>(end - base));
  if (!gaps) {
    std::memcpy(bytes, data + first, static_cast<size_t>(end - base));
  } else {
    for (size_t k = 0; k < n; ++k) {
      const int64_t i = from + static_cast<int64_t>(k);
      if (!bit(validity, i)) continue;
      const O a = load_at<O>(offsets, i);
      const size_t len = static_cast<size_t>(load_at<O>(offsets, i + 1) - a);
      if (len == 0) continue;
      std::memcpy(bytes, data + a, len);
      bytes += len;
    }
  }
  append_validity(validity, from, n);
}

void ColumnData::append_offsets32(const std::byte* offsets, const std::byte* data,
                                  const uint8_t* validity, int64_t from, size_t n) {
  append_offsets<int32_t>(offsets, data, validity, from, n);
}

void ColumnData::append_offsets64(const std::byte* offsets, const std::byte* data,
                                  const uint8_t* validity, int64_t from, size_t n) {
  append_offsets<int64_t>(offsets, data, validity, from, n);
}

std::span<const int32_t> ColumnData::offsets() const {
  if (type_.kind == ColumnType::Kind::Binary && offsets_.size() == 0)
    return {reinterpret_cast<const int32_t*>(offsets_.data()), 1};
  return offsets_.as<int32_t>();
}

Result<Unit, CellError> ColumnData::check(const Cell& cell) const {
  if (accepts(cell)) return Unit{};
  if (cell.kind() == Cell::Kind::Binary && type_.kind == ColumnType::Kind::Binary) {
    const uint64_t len = cell.bytes().size();
    const uint64_t have = values_.size();
    const uint64_t total = saturating_add(have, len);
    return err(CellError{CellError::Kind::Overflow, type_, cell.kind(), {}, total});
  }
  return err(CellError{CellError::Kind::Mismatch, type_, cell.kind(), value_text(cell), 0});
}

std::optional<Cell> ColumnData::get(size_t row) const {
  if (row >= rows_) return std::nullopt;
  const auto bits = validity();
  if (row / 8 >= bits.size()) return std::nullopt;
  const bool valid = (bits[row / 8] >> (row % 8)) & 1;
  switch (type_.kind) {
    case ColumnType::Kind::Binary: {
      const auto offs = offsets();
      if (row + 1 >= offs.size()) return std::nullopt;
      const int32_t start = offs[row], end = offs[row + 1];
      if (start < 0 || end < start || static_cast<size_t>(end) > values_.size())
        return std::nullopt;
      if (!valid) return Cell::null();
      return Cell::binary(bytes().substr(static_cast<size_t>(start),
                                         static_cast<size_t>(end - start)));
    }
    case ColumnType::Kind::Int64: {
      const auto v = int64_values();
      if (row >= v.size()) return std::nullopt;
      return valid ? Cell::int64(v[row]) : Cell::null();
    }
    case ColumnType::Kind::Decimal128: {
      const auto v = decimal128_values();
      if (row >= v.size()) return std::nullopt;
      return valid ? Cell::decimal128(v[row]) : Cell::null();
    }
    case ColumnType::Kind::Date32:
    case ColumnType::Kind::Time32: {
      const auto v = int32_values();
      if (row >= v.size()) return std::nullopt;
      if (!valid) return Cell::null();
      return type_.kind == ColumnType::Kind::Date32 ? Cell::date32(v[row]) : Cell::time32(v[row]);
    }
  }
  return std::nullopt;
}

bool ColumnData::render_to(std::string& out, size_t row) const {
  const std::optional<Cell> cell = get(row);
  if (!cell) return false;
  switch (cell->kind()) {
    case Cell::Kind::Null: out += "\xE2\x88\x85"; break;  // U+2205 EMPTY SET
    case Cell::Kind::Binary: out += lossy_utf8(cell->bytes()); break;
    case Cell::Kind::Int64: out += std::to_string(cell->int64()); break;
    case Cell::Kind::Decimal128: append_amount(out, cell->decimal128(), type_.scale); break;
    case Cell::Kind::Date32: append_date(out, cell->date32()); break;
    case Cell::Kind::Time32: append_time(out, cell->time32()); break;
  }
  return true;
}

std::optional<std::string> ColumnData::render(size_t row) const {
  std::string out;
  if (!render_to(out, row)) return std::nullopt;
  return out;
}


}  // namespace zarvi_core::column
