#include "zarvi_core/column/column.h"

#include <algorithm>
#include <array>
#include <cstdio>
#include <cstring>
#include <memory>
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

// A packed column of up to kSharedRows rows keeps in its block neither a
// bitmap whose bits are all set nor any storage when every row is null: those
// read from the constant blocks below.
constexpr size_t kSharedRows = 64;

// What a column of nulls reads, and an empty one (no validity bytes, no
// values, and for binary the one offset 0): zeros enough for the validity,
// its padding and the widest values of kSharedRows rows.
alignas(64) constexpr std::byte kZeros[kSharedRows / 8 + 8 + kSharedRows * sizeof(i128)] = {};

// The bitmaps of every valid row, by the row count modulo 8: the last
// ceil(rows / 8) bytes of row k % 8 are the bitmap of k rows.
constexpr std::array<std::array<uint8_t, kSharedRows / 8>, 8> kAllValid = [] {
  std::array<std::array<uint8_t, kSharedRows / 8>, 8> out{};
  for (size_t k = 0; k < 8; ++k) {
    out[k].fill(0xFF);
    if (k > 0) out[k].back() = static_cast<uint8_t>((1u << k) - 1);
  }
  return out;
}();

size_t align_up(size_t n, size_t align) { return (n + align - 1) / align * align; }

}  // namespace

ColumnView::ColumnView(ColumnType type) : type_(type), packed_at_(kZeros) {}

bool operator==(const ColumnView& a, const ColumnView& b) {
  if (a.type_ != b.type_ || a.form_ != b.form_ || a.packed_rows_ != b.packed_rows_) return false;
  return a.form_ == ColumnView::Form::Own ? a.storage_ == b.storage_
                                          : a.packed_at_ == b.packed_at_;
}

ColumnData::ColumnData(const ColumnView& rows) : ColumnView(rows.type()) {
  if (rows.rows() > 0) own_copy(rows);
}

ColumnData::ColumnData(ColumnData&& other) noexcept : ColumnView(other.type_) { take(other); }

ColumnData& ColumnData::operator=(ColumnData&& other) noexcept {
  if (this != &other) {
    if (form_ == Form::Own) delete storage_;
    type_ = other.type_;
    take(other);
  }
  return *this;
}

void ColumnData::take(ColumnData& other) noexcept {
  form_ = other.form_;
  packed_rows_ = other.packed_rows_;
  if (form_ != Form::Own) {
    packed_at_ = other.packed_at_;
  } else {
    storage_ = other.storage_;
  }
  other.reset();
}

ColumnData::~ColumnData() {
  if (form_ == Form::Own) delete storage_;
}

void ColumnData::reset() noexcept {
  form_ = Form::Packed;
  packed_rows_ = 0;
  packed_at_ = kZeros;
}

void ColumnData::own_copy(const ColumnView& from) {
  auto fresh = std::make_unique<Storage>();
  const size_t rows = from.rows();
  if (rows > 0) {
    const auto bits = from.validity();
    fresh->validity.append(bits.data(), bits.size());
    if (type_.kind == ColumnType::Kind::Binary) {
      const auto offs = from.offsets();
      fresh->offsets.append(offs.data(), offs.size_bytes());
    }
    const auto values = from.value_bytes();
    fresh->values.append(values.data(), values.size());
    fresh->nulls = from.null_count();
    fresh->rows = rows;
  }
  storage_ = fresh.release();
  form_ = Form::Own;
  packed_rows_ = 0;
}

size_t ColumnView::packed_align() const {
  return type_.kind == ColumnType::Kind::Binary ? sizeof(int32_t) : value_width(type_.kind);
}

size_t ColumnView::packed_values() const {
  return form_ == Form::Valid ? 0 : align_up((rows() + 7) / 8, packed_align());
}

// The bytes of a packed copy: nothing for a few null rows, the values alone
// for a few valid ones, else the validity, padding and values.
size_t ColumnView::packed_size() const {
  const size_t rows = this->rows();
  const size_t nulls = null_count();
  if (rows <= kSharedRows && nulls == rows) return 0;
  const size_t values = type_.kind == ColumnType::Kind::Binary
                            ? (rows + 1) * sizeof(int32_t) + bytes().size()
                            : rows * value_width(type_.kind);
  if (rows <= kSharedRows && nulls == 0) return values;
  return align_up((rows + 7) / 8, packed_align()) + values;
}

ColumnData ColumnData::copy_to(std::byte* at) const {
  ColumnData out(type_);
  static_cast<ColumnView&>(out) = pack_to(at);
  return out;
}

ColumnView ColumnView::pack_to(std::byte* at) const {
  const size_t rows = this->rows();
  const size_t size = packed_size();
  ColumnView out(type_);
  out.packed_rows_ = static_cast<uint32_t>(rows);
  if (size == 0) return out;  // null rows: the zeros
  const bool valid = rows <= kSharedRows && null_count() == 0;
  // The storage covers its rows exactly; the copy never reads past it, and
  // whatever it does not cover, padding included, is zero.
  std::byte* values = at;
  if (!valid) {
    const auto bits = validity();
    const size_t bit_bytes = std::min(bits.size(), (rows + 7) / 8);
    if (bit_bytes > 0) std::memcpy(at, bits.data(), bit_bytes);
    values = at + align_up((rows + 7) / 8, packed_align());
    std::memset(at + bit_bytes, 0, static_cast<size_t>(values - at) - bit_bytes);
  }
  if (type_.kind == ColumnType::Kind::Binary) {
    const auto offs = offsets();
    const size_t want = (rows + 1) * sizeof(int32_t);
    const size_t have = std::min(offs.size_bytes(), want);
    std::memcpy(values, offs.data(), have);
    std::memset(values + have, 0, want - have);
    values += want;
  }
  const auto value = value_bytes();
  const size_t want = size - static_cast<size_t>(values - at);
  const size_t have = std::min(value.size(), want);
  if (have > 0) std::memcpy(values, value.data(), have);
  std::memset(values + have, 0, want - have);
  out.form_ = valid ? Form::Valid : Form::Packed;
  out.packed_at_ = at;
  return out;
}

namespace {

// A place: the offset from the block in the low 30 bits, the form above.
constexpr uint32_t kPlaceZeros = 0, kPlacePacked = 1, kPlaceValid = 2;
constexpr unsigned kPlaceShift = 30;

}  // namespace

uint32_t ColumnView::place_in(const std::byte* block) const {
  if (packed_at_ == kZeros) return kPlaceZeros << kPlaceShift;
  const auto offset = static_cast<uint32_t>(packed_at_ - block);
  return ((form_ == Form::Valid ? kPlaceValid : kPlacePacked) << kPlaceShift) | offset;
}

ColumnView ColumnView::placed(ColumnType type, size_t rows, const std::byte* block,
                              uint32_t place) {
  ColumnView out(type);
  out.packed_rows_ = static_cast<uint32_t>(rows);
  const uint32_t form = place >> kPlaceShift;
  if (form == kPlaceZeros) return out;
  out.form_ = form == kPlaceValid ? Form::Valid : Form::Packed;
  out.packed_at_ = block + (place & ((uint32_t{1} << kPlaceShift) - 1));
  return out;
}

void ColumnData::clear() {
  if (form_ != Form::Own) return reset();
  Storage& s = *storage_;
  s.rows = 0;
  s.nulls = 0;
  s.validity.clear();
  s.offsets.clear();
  s.values.clear();
}

size_t ColumnView::null_count() const {
  if (form_ == Form::Own) return storage_->nulls;
  if (form_ == Form::Valid) return 0;
  size_t valid = 0;
  for (const uint8_t b : validity()) valid += static_cast<size_t>(__builtin_popcount(b));
  return packed_rows_ - valid;
}

std::span<const uint8_t> ColumnView::validity() const {
  if (form_ == Form::Own) return storage_->validity.as<uint8_t>();
  const size_t bytes = (size_t{packed_rows_} + 7) / 8;
  if (form_ == Form::Valid) {
    const auto& bits = kAllValid[packed_rows_ % 8];
    return {bits.data() + bits.size() - bytes, bytes};
  }
  return {reinterpret_cast<const uint8_t*>(packed_at_), bytes};
}

std::span<const std::byte> ColumnView::value_bytes() const {
  if (form_ == Form::Own) return {storage_->values.data(), storage_->values.size()};
  const std::byte* values = packed_at_ + packed_values();
  if (type_.kind != ColumnType::Kind::Binary)
    return {values, size_t{packed_rows_} * value_width(type_.kind)};
  const size_t offsets = (size_t{packed_rows_} + 1) * sizeof(int32_t);
  int32_t total = 0;
  std::memcpy(&total, values + offsets - sizeof total, sizeof total);
  return {values + offsets, static_cast<size_t>(std::max(total, int32_t{0}))};
}

std::string_view ColumnView::bytes() const {
  const auto v = value_bytes();
  return {reinterpret_cast<const char*>(v.data()), v.size()};
}

void ColumnData::reserve(size_t rows, size_t bytes) {
  Storage& s = own();
  s.validity.reserve((s.rows + rows + 7) / 8 - s.validity.size());
  if (type_.kind == ColumnType::Kind::Binary) {
    s.offsets.reserve((rows + 1) * sizeof(int32_t));
    s.values.reserve(bytes);
  } else {
    s.values.reserve(rows * value_width(type_.kind));
  }
}

void ColumnData::append_validity(const uint8_t* validity, int64_t from, size_t n) {
  if (n == 0) return;
  Storage& own_rows = own();
  const size_t bytes = (own_rows.rows + n + 7) / 8;
  if (bytes > own_rows.validity.size()) {
    const size_t fresh = bytes - own_rows.validity.size();
    std::memset(own_rows.validity.extend(fresh), 0, fresh);
  }
  auto* out = reinterpret_cast<uint8_t*>(&own_rows.validity.at(0));
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
    const size_t d = own_rows.rows + k;
    const unsigned at = static_cast<unsigned>(d & 7);
    out[d >> 3] = static_cast<uint8_t>(out[d >> 3] | (w << at));
    if (at + m > 8) out[(d >> 3) + 1] = static_cast<uint8_t>(out[(d >> 3) + 1] | (w >> (8 - at)));
  }
  own_rows.nulls += n - valid;
  own_rows.rows += n;
}

void ColumnData::append_values(const std::byte* values, const uint8_t* validity, int64_t from,
                               size_t n) {
  if (n == 0) return;
  const size_t width = value_width(type_.kind);
  Storage& s = own();
  std::byte* out = s.values.extend(n * width);
  std::memcpy(out, values + from * static_cast<int64_t>(width), n * width);
  const size_t nulls = s.nulls;
  append_validity(validity, from, n);
  if (s.nulls == nulls) return;
  // The values under nulls are whatever the source left there.
  for (size_t k = 0; k < n; ++k) {
    if (!bit(validity, from + static_cast<int64_t>(k))) std::memset(out + k * width, 0, width);
  }
}

template <class O>
void ColumnData::append_offsets(const std::byte* offsets, const std::byte* data,
                                const uint8_t* validity, int64_t from, size_t n) {
  if (n == 0) return;
  Storage& s = own();
  if (s.offsets.size() == 0) s.offsets.push(int32_t{0});
  std::byte* out = s.offsets.extend(n * sizeof(int32_t));
  const O first = load_at<O>(offsets, from);
  const int64_t base = static_cast<int64_t>(s.values.size());
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
  std::byte* bytes = s.values.extend(static_cast<size_t>(end - base));
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

std::span<const int32_t> ColumnView::offsets() const {
  if (type_.kind != ColumnType::Kind::Binary) return {};
  if (form_ != Form::Own) {
    return {reinterpret_cast<const int32_t*>(packed_at_ + packed_values()),
            size_t{packed_rows_} + 1};
  }
  const buffer::Buffer& offsets = storage_->offsets;
  if (offsets.size() == 0) return {reinterpret_cast<const int32_t*>(offsets.data()), 1};
  return offsets.as<int32_t>();
}

Result<Unit, CellError> ColumnView::check(const Cell& cell) const {
  if (accepts(cell)) return Unit{};
  if (cell.kind() == Cell::Kind::Binary && type_.kind == ColumnType::Kind::Binary) {
    const uint64_t len = cell.bytes().size();
    const uint64_t have = bytes().size();
    const uint64_t total = saturating_add(have, len);
    return err(CellError{CellError::Kind::Overflow, type_, cell.kind(), {}, total});
  }
  return err(CellError{CellError::Kind::Mismatch, type_, cell.kind(), value_text(cell), 0});
}

std::optional<Cell> ColumnView::get(size_t row) const {
  if (row >= rows()) return std::nullopt;
  const auto bits = validity();
  if (row / 8 >= bits.size()) return std::nullopt;
  const bool valid = (bits[row / 8] >> (row % 8)) & 1;
  switch (type_.kind) {
    case ColumnType::Kind::Binary: {
      const auto offs = offsets();
      if (row + 1 >= offs.size()) return std::nullopt;
      const int32_t start = offs[row], end = offs[row + 1];
      if (start < 0 || end < start || static_cast<size_t>(end) > bytes().size())
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

bool ColumnView::render_to(std::string& out, size_t row) const {
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

std::optional<std::string> ColumnView::render(size_t row) const {
  std::string out;
  if (!render_to(out, row)) return std::nullopt;
  return out;
}


}  // namespace zarvi_core::column
