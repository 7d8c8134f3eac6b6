#include "zarvi_core/column.h"

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <new>
#include <utility>

#include "zarvi_core/column/parse.h"
#include "zarvi_core/spec/balance.h"
#include "zarvi_core/text.h"

#ifdef __linux__
#include <sys/mman.h>
#define ZARVI_MAPPED_BUFFERS 1
#endif

namespace zarvi_core::column {
namespace {

#ifdef ZARVI_MAPPED_BUFFERS
// Buffers from this capacity on are pages of their own. Low, because a
// buffer on the heap is copied at every doubling and leaves the old block
// behind, resident, for whatever allocation fits it next; mapped pages grow
// in place and are resident only as far as they are written.
#ifdef __SANITIZE_ADDRESS__
// The address sanitizer watches heap blocks only: there, only large buffers
// are mapped.
constexpr size_t kMappedBytes = size_t{1} << 20;
#else
constexpr size_t kMappedBytes = size_t{16} << 10;
#endif

// Each mapped buffer costs the process a mapping, and the kernel allows
// about 65530 of them to everything in the process together; past this many
// live mapped buffers, new ones go on the heap.
constexpr size_t kMaxMappedBuffers = 16384;
std::atomic<size_t> mapped_buffers{0};
#endif

// What data() shows of an empty buffer: aligned and padded like the others.
alignas(64) constexpr std::byte kEmptyBlock[64] = {};

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
    case Cell::Kind::Decimal128: return spec::render_amount(cell.decimal128(), 0);
    case Cell::Kind::Date32: return std::to_string(cell.date32());
    case Cell::Kind::Time32: return std::to_string(cell.time32());
  }
  return {};
}

void append_date(std::string& out, int32_t days) {
  char buf[32];
  if (days > kMaxCivilDay) {
    std::snprintf(buf, sizeof buf, "date32(%d)", days);
  } else {
    const CivilDate d = civil_from_days(days);
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

// Buffer

Buffer::Buffer(Buffer&& other) noexcept
    : data_(std::exchange(other.data_, nullptr)),
      size_(std::exchange(other.size_, 0)),
      capacity_(std::exchange(other.capacity_, 0)),
      mapped_(std::exchange(other.mapped_, false)),
      borrowed_(std::exchange(other.borrowed_, false)) {}

Buffer& Buffer::operator=(Buffer&& other) noexcept {
  if (this != &other) {
    Buffer old(std::move(*this));
    data_ = std::exchange(other.data_, nullptr);
    size_ = std::exchange(other.size_, 0);
    capacity_ = std::exchange(other.capacity_, 0);
    mapped_ = std::exchange(other.mapped_, false);
    borrowed_ = std::exchange(other.borrowed_, false);
  }
  return *this;
}

Buffer::~Buffer() { release(); }

Buffer Buffer::copy_to(std::byte* at) const {
  Buffer out;
  if (size_ == 0) return out;
  // The padding is zero already.
  std::memcpy(at, data_, round_up(size_));
  out.data_ = at;
  out.size_ = size_;
  out.capacity_ = round_up(size_);
  out.borrowed_ = true;
  return out;
}

void Buffer::release() {
  if (data_ == nullptr || borrowed_) return;
#ifdef ZARVI_MAPPED_BUFFERS
  if (mapped_) {
    munmap(data_, capacity_);
    mapped_buffers.fetch_sub(1, std::memory_order_relaxed);
    return;
  }
#endif
  ::operator delete(data_, std::align_val_t{kAlign});
}

void Buffer::adopt(std::byte* fresh, size_t capacity, bool mapped) {
  // The bytes up to the end of the last used block: the values and their
  // zeroed padding.
  if (size_ > 0) std::memcpy(fresh, data_, round_up(size_));
  release();
  data_ = fresh;
  capacity_ = capacity;
  mapped_ = mapped;
  borrowed_ = false;
}

const std::byte* Buffer::data() const { return data_ != nullptr ? data_ : kEmptyBlock; }

void Buffer::grow(size_t extra) {
  if (extra > SIZE_MAX / 4 - size_) throw std::bad_alloc();
  // Doubling keeps appends amortised; the unused capacity is never written,
  // so it does not become resident.
  const size_t want = round_up(std::max({size_ + extra, capacity_ * 2, kAlign}));
#ifdef ZARVI_MAPPED_BUFFERS
  if (want >= kMappedBytes && grow_mapped(want)) return;
#endif
  // Also where mapping fails (the process may be out of mappings): the heap
  // holds the buffer just as well.
  adopt(static_cast<std::byte*>(::operator new(want, std::align_val_t{kAlign})), want, false);
}

#ifdef ZARVI_MAPPED_BUFFERS
bool Buffer::grow_mapped(size_t want) {
  if (mapped_) {
    void* moved = mremap(data_, capacity_, want, MREMAP_MAYMOVE);
    if (moved != MAP_FAILED) {
      data_ = static_cast<std::byte*>(moved);
      capacity_ = want;
      return true;
    }
  }
  if (mapped_buffers.fetch_add(1, std::memory_order_relaxed) >= kMaxMappedBuffers) {
    mapped_buffers.fetch_sub(1, std::memory_order_relaxed);
    return false;
  }
  void* fresh = mmap(nullptr, want, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  if (fresh == MAP_FAILED) {
    mapped_buffers.fetch_sub(1, std::memory_order_relaxed);
    return false;
  }
  // A huge page would make a whole 2 MiB resident at the first write into it;
  // the pages stay small so that only what is written is resident.
  madvise(fresh, want, MADV_NOHUGEPAGE);
  adopt(static_cast<std::byte*>(fresh), want, true);
  return true;
}
#endif

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

std::span<const int32_t> ColumnData::offsets() const {
  if (type_.kind == ColumnType::Kind::Binary && offsets_.size() == 0)
    return {reinterpret_cast<const int32_t*>(kEmptyBlock), 1};
  return offsets_.as<int32_t>();
}

Result<Unit, CellError> ColumnData::check(const Cell& cell) const {
  if (accepts(cell)) return Unit{};
  if (cell.kind() == Cell::Kind::Binary && type_.kind == ColumnType::Kind::Binary) {
    const uint64_t len = cell.bytes().size();
    const uint64_t have = values_.size();
    const uint64_t total = len > UINT64_MAX - have ? UINT64_MAX : have + len;
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
    case Cell::Kind::Decimal128: spec::append_amount(out, cell->decimal128(), type_.scale); break;
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
