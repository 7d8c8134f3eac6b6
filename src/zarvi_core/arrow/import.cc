#include "zarvi_core/arrow/import.h"

#include <charconv>
#include <cmath>
#include <cerrno>
#include <cstring>
#include <limits>
#include <map>
#include <memory>
#include <set>
#include <tuple>
#include <optional>
#include <vector>

#include "zarvi_core/text.h"

namespace zarvi_core::arrow {
namespace {

using column::Cell;
using column::ColumnType;
using column::table::Table;

// Deeper schemas than this are refused before anything recurses further.
constexpr int kMaxDepth = 64;
// Schema nodes read per spec column (beyond one path of the deepest nesting):
// room for a dictionary and a nested type or two; the rest is refused anyway.
constexpr int64_t kNodesPerColumn = 4;

// ---- types ----

enum class Id : uint8_t {
  Null, Boolean, Int8, Int16, Int32, Int64, UInt8, UInt16, UInt32, UInt64,
  Float16, Float32, Float64, Binary, LargeBinary, BinaryView, Utf8, LargeUtf8, Utf8View,
  FixedSizeBinary, Decimal, Date32, Date64, Time32, Time64, Timestamp, Duration, Interval,
  List, LargeList, FixedSizeList, ListView, LargeListView, Struct, Map, DenseUnion,
  SparseUnion, RunEndEncoded,
};

enum class Unit : uint8_t { Second, Millisecond, Microsecond, Nanosecond };

struct Field;

struct DataType {
  Id id = Id::Null;
  Unit unit = Unit::Second;      // times, timestamps, durations
  int64_t precision = 0;         // decimal
  int64_t scale = 0;             // decimal
  int64_t bits = 128;            // decimal
  int64_t size = 0;              // fixed-size binary bytes, fixed-size list items
  std::optional<std::string> zone;  // timestamp
  std::string interval;          // interval: its kind
  std::vector<Field> children;
  // Dictionary-encoded: the dictionary's type (this type is then the key's).
  std::shared_ptr<const DataType> values;
};

struct Field {
  std::string name;
  DataType type;
};

std::string_view unit_name(Unit unit) {
  switch (unit) {
    case Unit::Second: return "Second";
    case Unit::Millisecond: return "Millisecond";
    case Unit::Microsecond: return "Microsecond";
    case Unit::Nanosecond: break;
  }
  return "Nanosecond";
}

std::string display(const DataType& type);

std::string child_list(const DataType& type, bool named) {
  std::string out;
  for (const Field& f : type.children) {
    if (!out.empty()) out += ", ";
    if (named) out += f.name + ": ";
    out += display(f.type);
  }
  return out;
}

// Our own fixed display of an Arrow type, as messages show it.
std::string plain_display(const DataType& t) {
  switch (t.id) {
    case Id::Null: return "Null";
    case Id::Boolean: return "Boolean";
    case Id::Int8: return "Int8";
    case Id::Int16: return "Int16";
    case Id::Int32: return "Int32";
    case Id::Int64: return "Int64";
    case Id::UInt8: return "UInt8";
    case Id::UInt16: return "UInt16";
    case Id::UInt32: return "UInt32";
    case Id::UInt64: return "UInt64";
    case Id::Float16: return "Float16";
    case Id::Float32: return "Float32";
    case Id::Float64: return "Float64";
    case Id::Binary: return "Binary";
    case Id::LargeBinary: return "LargeBinary";
    case Id::BinaryView: return "BinaryView";
    case Id::Utf8: return "Utf8";
    case Id::LargeUtf8: return "LargeUtf8";
    case Id::Utf8View: return "Utf8View";
    case Id::FixedSizeBinary: return "FixedSizeBinary(" + std::to_string(t.size) + ")";
    case Id::Decimal:
      return "Decimal" + std::to_string(t.bits) + "(" + std::to_string(t.precision) + ", " +
             std::to_string(t.scale) + ")";
    case Id::Date32: return "Date32";
    case Id::Date64: return "Date64";
    case Id::Time32: return "Time32(" + std::string(unit_name(t.unit)) + ")";
    case Id::Time64: return "Time64(" + std::string(unit_name(t.unit)) + ")";
    case Id::Timestamp:
      return "Timestamp(" + std::string(unit_name(t.unit)) + ", " +
             (t.zone ? "Some(" + quote_bytes(*t.zone) + ")" : std::string("None")) + ")";
    case Id::Duration: return "Duration(" + std::string(unit_name(t.unit)) + ")";
    case Id::Interval: return "Interval(" + t.interval + ")";
    case Id::List: return "List(" + child_list(t, false) + ")";
    case Id::LargeList: return "LargeList(" + child_list(t, false) + ")";
    case Id::FixedSizeList:
      return "FixedSizeList(" + std::to_string(t.size) + ", " + child_list(t, false) + ")";
    case Id::ListView: return "ListView(" + child_list(t, false) + ")";
    case Id::LargeListView: return "LargeListView(" + child_list(t, false) + ")";
    case Id::Struct: return "Struct(" + child_list(t, true) + ")";
    case Id::Map: return "Map(" + child_list(t, false) + ")";
    case Id::DenseUnion: return "Union(Dense, " + child_list(t, true) + ")";
    case Id::SparseUnion: return "Union(Sparse, " + child_list(t, true) + ")";
    case Id::RunEndEncoded: return "RunEndEncoded(" + child_list(t, false) + ")";
  }
  return "Null";
}

std::string display(const DataType& type) {
  if (type.values) return "Dictionary(" + plain_display(type) + ", " + display(*type.values) + ")";
  return plain_display(type);
}

// The buffers an array of this type carries; none for the view types, whose
// count varies.
std::optional<int64_t> buffer_count(Id id) {
  switch (id) {
    case Id::Null:
    case Id::RunEndEncoded: return 0;
    case Id::FixedSizeList:
    case Id::Struct:
    case Id::SparseUnion: return 1;
    case Id::Binary:
    case Id::LargeBinary:
    case Id::Utf8:
    case Id::LargeUtf8:
    case Id::ListView:
    case Id::LargeListView: return 3;
    case Id::BinaryView:
    case Id::Utf8View: return std::nullopt;
    default: return 2;
  }
}

bool has_validity(Id id) {
  return id != Id::Null && id != Id::DenseUnion && id != Id::SparseUnion &&
         id != Id::RunEndEncoded;
}

// A whole decimal number from `text`, all of it.
std::optional<int64_t> whole_number(std::string_view text) {
  int64_t v = 0;
  const char* end = text.data() + text.size();
  auto [ptr, ec] = std::from_chars(text.data(), end, v);
  if (ec != std::errc() || ptr != end || text.empty()) return std::nullopt;
  return v;
}

// Splits "a,b,c" into its parts.
std::vector<std::string_view> split(std::string_view text, char by) {
  std::vector<std::string_view> parts;
  for (;;) {
    const size_t at = text.find(by);
    parts.push_back(text.substr(0, at));
    if (at == std::string_view::npos) return parts;
    text.remove_prefix(at + 1);
  }
}

std::optional<Unit> unit_of(char c) {
  switch (c) {
    case 's': return Unit::Second;
    case 'm': return Unit::Millisecond;
    case 'u': return Unit::Microsecond;
    case 'n': return Unit::Nanosecond;
    default: return std::nullopt;
  }
}

// The type of a format string, children aside; none when unknown.
std::optional<DataType> parse_format(std::string_view f) {
  DataType t;
  static constexpr std::pair<std::string_view, Id> kPlain[] = {
      {"n", Id::Null},         {"b", Id::Boolean},     {"c", Id::Int8},
      {"C", Id::UInt8},        {"s", Id::Int16},       {"S", Id::UInt16},
      {"i", Id::Int32},        {"I", Id::UInt32},      {"l", Id::Int64},
      {"L", Id::UInt64},       {"e", Id::Float16},     {"f", Id::Float32},
      {"g", Id::Float64},      {"z", Id::Binary},      {"Z", Id::LargeBinary},
      {"vz", Id::BinaryView},  {"u", Id::Utf8},        {"U", Id::LargeUtf8},
      {"vu", Id::Utf8View},    {"tdD", Id::Date32},    {"tdm", Id::Date64},
      {"+l", Id::List},        {"+L", Id::LargeList},  {"+vl", Id::ListView},
      {"+vL", Id::LargeListView}, {"+s", Id::Struct},  {"+m", Id::Map},
      {"+r", Id::RunEndEncoded},
  };
  for (const auto& [format, id] : kPlain) {
    if (f == format) {
      t.id = id;
      return t;
    }
  }
  if (f.size() == 3 && f.substr(0, 2) == "tt") {
    const auto unit = unit_of(f[2]);
    if (!unit) return std::nullopt;
    t.id = *unit <= Unit::Millisecond ? Id::Time32 : Id::Time64;
    t.unit = *unit;
    return t;
  }
  if (f.size() == 3 && f.substr(0, 2) == "tD") {
    const auto unit = unit_of(f[2]);
    if (!unit) return std::nullopt;
    t.id = Id::Duration;
    t.unit = *unit;
    return t;
  }
  if (f.size() >= 4 && f.substr(0, 2) == "ts" && f[3] == ':') {
    const auto unit = unit_of(f[2]);
    if (!unit) return std::nullopt;
    t.id = Id::Timestamp;
    t.unit = *unit;
    if (f.size() > 4) t.zone = std::string(f.substr(4));
    return t;
  }
  if (f == "tiM" || f == "tiD" || f == "tin") {
    t.id = Id::Interval;
    t.interval = f == "tiM" ? "YearMonth" : f == "tiD" ? "DayTime" : "MonthDayNano";
    return t;
  }
  if (f.substr(0, 2) == "d:") {
    const auto parts = split(f.substr(2), ',');
    if (parts.size() != 2 && parts.size() != 3) return std::nullopt;
    const auto precision = whole_number(parts[0]);
    const auto scale = whole_number(parts[1]);
    const auto bits = parts.size() == 3 ? whole_number(parts[2]) : std::optional<int64_t>(128);
    if (!precision || !scale || !bits) return std::nullopt;
    if (*bits != 32 && *bits != 64 && *bits != 128 && *bits != 256) return std::nullopt;
    t.id = Id::Decimal;
    t.precision = *precision;
    t.scale = *scale;
    t.bits = *bits;
    return t;
  }
  if (f.substr(0, 2) == "w:" || f.substr(0, 3) == "+w:") {
    const auto size = whole_number(f.substr(f.find(':') + 1));
    if (!size || *size < 0) return std::nullopt;
    t.id = f[0] == 'w' ? Id::FixedSizeBinary : Id::FixedSizeList;
    t.size = *size;
    return t;
  }
  if (f.substr(0, 4) == "+ud:" || f.substr(0, 4) == "+us:") {
    t.id = f[2] == 'd' ? Id::DenseUnion : Id::SparseUnion;
    return t;
  }
  return std::nullopt;
}

// How many children a type takes; none when any number will do.
std::optional<int64_t> child_count(Id id) {
  switch (id) {
    case Id::List:
    case Id::LargeList:
    case Id::FixedSizeList:
    case Id::ListView:
    case Id::LargeListView:
    case Id::Map: return 1;
    case Id::RunEndEncoded: return 2;
    case Id::Struct:
    case Id::DenseUnion:
    case Id::SparseUnion: return std::nullopt;
    default: return 0;
  }
}

// `nodes_left` bounds the nodes read in all: a producer may list one child
// twice at every level, which a depth bound alone lets grow to 2^64 nodes.
// Once it is spent the error is empty: the caller words that refusal.
Result<Field, std::string> parse_field(const ArrowSchema* s, int depth, int64_t& nodes_left) {
  if (depth > kMaxDepth) {
    return err("the schema nests deeper than " + std::to_string(kMaxDepth) + " levels");
  }
  if (--nodes_left < 0) return err(std::string());
  if (s == nullptr) return err(std::string("a schema node is missing"));
  if (s->release == nullptr) return err(std::string("a schema node is released"));
  if (s->format == nullptr) return err(std::string("a schema node has no format"));
  Field field;
  if (s->name != nullptr) field.name = s->name;
  const std::string_view format = s->format;
  auto type = parse_format(format);
  if (!type) return err("the Arrow format " + quote_bytes(format) + " is not known");
  field.type = std::move(*type);
  const std::string where = "field " + quote_bytes(field.name);
  if (s->n_children < 0 || (s->n_children > 0 && s->children == nullptr)) {
    return err(where + " has a broken child list");
  }
  if (const auto want = child_count(field.type.id); want && *want != s->n_children) {
    return err(where + " of format " + quote_bytes(format) + " has " +
               std::to_string(s->n_children) + " children, not " + std::to_string(*want));
  }
  for (int64_t i = 0; i < s->n_children; ++i) {
    auto child = parse_field(s->children[i], depth + 1, nodes_left);
    if (!child.ok()) return child;
    field.type.children.push_back(std::move(child.value()));
  }
  if (s->dictionary != nullptr) {
    auto values = parse_field(s->dictionary, depth + 1, nodes_left);
    if (!values.ok()) return values;
    field.type.values = std::make_shared<const DataType>(std::move(values.value().type));
  }
  return field;
}

// ---- arrays ----

template <class T>
T load(const std::byte* base, int64_t index) {
  T v;
  std::memcpy(&v, base + index * static_cast<int64_t>(sizeof(T)), sizeof v);
  return v;
}

// One checked array: `length` elements from index `offset` of its buffers.
struct View {
  const DataType* type = nullptr;
  int64_t offset = 0;
  int64_t length = 0;
  const uint8_t* validity = nullptr;     // null: every element valid
  const std::byte* values = nullptr;     // values, offsets or views
  const std::byte* data = nullptr;       // binary bytes
  std::vector<const std::byte*> variadic;  // view types: the data buffers
  std::unique_ptr<View> dictionary;

  // i: an index into the buffers (offset included).
  bool valid(int64_t i) const { return validity == nullptr || ((validity[i >> 3] >> (i & 7)) & 1); }
};

bool adds_past(int64_t a, int64_t b) { return a > std::numeric_limits<int64_t>::max() - b; }

// Past this element no buffer can be addressed: its byte position, at up to
// 32 bytes an element, would overflow.
constexpr int64_t kMaxElements = std::numeric_limits<int64_t>::max() / 32;

template <class O>
Result<Unit, std::string> check_offsets(const View& v) {
  if (v.length == 0) return Unit{};
  if (v.values == nullptr) return err(std::string("the offset buffer is missing"));
  O previous = load<O>(v.values, v.offset);
  if (previous < 0) return err(std::string("an offset is negative"));
  const O first = previous;
  for (int64_t i = 1; i <= v.length; ++i) {
    const O next = load<O>(v.values, v.offset + i);
    if (next < previous) {
      return err("the offsets decrease at element " + std::to_string(i - 1));
    }
    previous = next;
  }
  if (previous > first && v.data == nullptr) return err(std::string("the data buffer is missing"));
  return Unit{};
}

Result<Unit, std::string> check_views(const View& v, const ArrowArray& a) {
  if (a.n_buffers < 3) {
    return err("the array has " + std::to_string(a.n_buffers) + " buffers; " +
               display(*v.type) + " takes at least 3");
  }
  const int64_t count = a.n_buffers - 3;
  const auto* sizes = static_cast<const std::byte*>(a.buffers[a.n_buffers - 1]);
  if (count > 0 && sizes == nullptr) return err(std::string("the buffer sizes are missing"));
  std::vector<int64_t> size(static_cast<size_t>(count));
  for (int64_t k = 0; k < count; ++k) {
    size[k] = load<int64_t>(sizes, k);
    if (size[k] < 0) return err("data buffer " + std::to_string(k) + " has a negative size");
    if (size[k] > 0 && a.buffers[2 + k] == nullptr) {
      return err("data buffer " + std::to_string(k) + " is missing");
    }
  }
  if (v.length > 0 && v.values == nullptr) return err(std::string("the view buffer is missing"));
  for (int64_t i = 0; i < v.length; ++i) {
    const std::byte* view = v.values + (v.offset + i) * 16;
    const int32_t length = load<int32_t>(view, 0);
    if (length < 0) return err("view " + std::to_string(i) + " has a negative length");
    if (length <= 12) continue;
    const int32_t buffer = load<int32_t>(view + 8, 0);
    const int32_t start = load<int32_t>(view + 12, 0);
    if (buffer < 0 || buffer >= count) {
      return err("view " + std::to_string(i) + " names data buffer " + std::to_string(buffer) +
                 " of " + std::to_string(count));
    }
    if (start < 0 || int64_t{start} + length > size[buffer]) {
      return err("view " + std::to_string(i) + " reaches past data buffer " +
                 std::to_string(buffer));
    }
  }
  return Unit{};
}

// Checks array `a` of type `t` for reading `length` elements from its
// element `start` (none: all of it) and builds its view. Only what the
// import may read is checked: the children of nested types never are.
Result<View, std::string> view_of(const ArrowArray* a, const DataType& t, int64_t start,
                                  std::optional<int64_t> length, int depth) {
  if (depth > kMaxDepth) {
    return err("the data nests deeper than " + std::to_string(kMaxDepth) + " levels");
  }
  if (a == nullptr) return err(std::string("an array is missing"));
  if (a->release == nullptr) return err(std::string("an array is released"));
  if (a->length < 0 || a->offset < 0 || a->null_count < -1 || a->n_buffers < 0 ||
      a->n_children < 0 || adds_past(a->offset, a->length) ||
      a->offset + a->length > kMaxElements) {
    return err("an array has a negative or overflowing length, offset or count");
  }
  if ((a->n_buffers > 0 && a->buffers == nullptr) ||
      (a->n_children > 0 && a->children == nullptr)) {
    return err(std::string("an array's buffer or child list is missing"));
  }
  View v;
  v.type = &t;
  v.length = length.value_or(a->length);
  if (adds_past(start, v.length) || start + v.length > a->length) {
    return err("an array holds " + std::to_string(a->length) + " elements; " +
               std::to_string(start + v.length) + " are needed");
  }
  v.offset = a->offset + start;
  const auto buffers = buffer_count(t.id);
  if (buffers && *buffers != a->n_buffers) {
    return err("the array has " + std::to_string(a->n_buffers) + " buffers; " + display(t) +
               " takes " + std::to_string(*buffers));
  }
  if (has_validity(t.id)) {
    if (a->n_buffers < 1) return err(std::string("the validity buffer is missing"));
    v.validity = static_cast<const uint8_t*>(a->buffers[0]);
    if (v.validity == nullptr && a->null_count > 0) {
      return err("the array counts " + std::to_string(a->null_count) +
                 " nulls but has no validity buffer");
    }
  }
  if (t.id != Id::Null && a->n_buffers >= 2) {
    v.values = static_cast<const std::byte*>(a->buffers[1]);
  }
  switch (t.id) {
    case Id::Binary:
    case Id::Utf8:
    case Id::LargeBinary:
    case Id::LargeUtf8: {
      v.data = static_cast<const std::byte*>(a->buffers[2]);
      auto checked = t.id == Id::Binary || t.id == Id::Utf8 ? check_offsets<int32_t>(v)
                                                            : check_offsets<int64_t>(v);
      if (!checked.ok()) return err(std::move(checked.error()));
      break;
    }
    case Id::BinaryView:
    case Id::Utf8View: {
      auto checked = check_views(v, *a);
      if (!checked.ok()) return err(std::move(checked.error()));
      for (int64_t k = 2; k + 1 < a->n_buffers; ++k) {
        v.variadic.push_back(static_cast<const std::byte*>(a->buffers[k]));
      }
      break;
    }
    case Id::Int8: case Id::Int16: case Id::Int32: case Id::Int64:
    case Id::UInt8: case Id::UInt16: case Id::UInt32: case Id::UInt64:
    case Id::Float32: case Id::Float64: case Id::Decimal: case Id::Date32: case Id::Date64:
    case Id::Time32: case Id::Time64: case Id::Timestamp:
      if (v.length > 0 && v.values == nullptr) {
        return err(std::string("the value buffer is missing"));
      }
      break;
    default:
      break;  // never read past the validity
  }
  if (t.values) {
    auto dictionary = view_of(a->dictionary, *t.values, 0, std::nullopt, depth + 1);
    if (!dictionary.ok()) return err("the dictionary: " + dictionary.error());
    v.dictionary = std::make_unique<View>(std::move(dictionary.value()));
  }
  return v;
}

// ---- values ----

template <class F>
std::string float_text(F value) {
  char buf[512];
  auto [end, ec] = std::to_chars(buf, buf + sizeof buf, value, std::chars_format::fixed);
  if (ec != std::errc()) return std::to_string(value);
  return std::string(buf, end);
}

std::string i128_text(i128 v) { return render_amount(v, 0); }

struct Integer {
  enum class Kind : uint8_t { Value, Message, NotInteger };
  Kind kind = Kind::Value;
  int64_t value = 0;
  std::string message;
};

template <class F>
Integer from_float(F v) {
  // 9.2e18 keeps every accepted value inside int64.
  if (std::isfinite(v) && std::trunc(v) == v && std::fabs(v) < F(9.2e18)) {
    return {Integer::Kind::Value, static_cast<int64_t>(v), {}};
  }
  return {Integer::Kind::Message, 0, float_text(v) + " is not a whole number"};
}

Integer integer(const View& v, int64_t i) {
  const std::byte* b = v.values;
  switch (v.type->id) {
    case Id::Int8: return {Integer::Kind::Value, load<int8_t>(b, i), {}};
    case Id::Int16: return {Integer::Kind::Value, load<int16_t>(b, i), {}};
    case Id::Int32: return {Integer::Kind::Value, load<int32_t>(b, i), {}};
    case Id::Int64: return {Integer::Kind::Value, load<int64_t>(b, i), {}};
    case Id::UInt8: return {Integer::Kind::Value, load<uint8_t>(b, i), {}};
    case Id::UInt16: return {Integer::Kind::Value, load<uint16_t>(b, i), {}};
    case Id::UInt32: return {Integer::Kind::Value, load<uint32_t>(b, i), {}};
    case Id::UInt64: {
      const uint64_t u = load<uint64_t>(b, i);
      if (u > uint64_t{std::numeric_limits<int64_t>::max()}) {
        return {Integer::Kind::Message, 0, std::to_string(u) + " does not fit a 64-bit integer"};
      }
      return {Integer::Kind::Value, static_cast<int64_t>(u), {}};
    }
    case Id::Float32: return from_float(load<float>(b, i));
    case Id::Float64: return from_float(load<double>(b, i));
    default: return {Integer::Kind::NotInteger, 0, {}};
  }
}

// 10^n for n <= 38, the largest power of ten an i128 holds.
i128 power_of_ten(int64_t n) {
  i128 p = 1;
  for (int64_t k = 0; k < n; ++k) p *= 10;
  return p;
}

// The Decimal128 value at the column's scale; none: not a Decimal128 array.
std::optional<Result<i128, std::string>> decimal(const View& v, int64_t i, int64_t scale) {
  if (v.type->id != Id::Decimal || v.type->bits != 128) return std::nullopt;
  const i128 value = load<i128>(v.values, i);
  const int64_t from = v.type->scale;
  const auto shown = [&] {
    return i128_text(value) + " at scale " + std::to_string(from);
  };
  if (from == scale) return Result<i128, std::string>(value);
  if (scale > from) {
    i128 out = 0;
    int64_t up = 0;
    if (value == 0) return Result<i128, std::string>(i128{0});
    if (__builtin_sub_overflow(scale, from, &up) || up > 38 ||
        __builtin_mul_overflow(value, power_of_ten(up), &out)) {
      return Result<i128, std::string>(
          err(shown() + " overflows scale " + std::to_string(scale)));
    }
    return Result<i128, std::string>(out);
  }
  if (from - scale <= 38) {
    const i128 p = power_of_ten(from - scale);
    if (value % p == 0) return Result<i128, std::string>(value / p);
  }
  return Result<i128, std::string>(
      err(shown() + " has more decimals than the column's scale " + std::to_string(scale)));
}

std::string type_message(const DataType& arrow, const ColumnType& column) {
  return "an Arrow " + display(arrow) + " column cannot hold the spec's " +
         column::to_string(column) + " values";
}

std::string_view bytes_at(const View& v, int64_t i) {
  int64_t start = 0;
  int64_t end = 0;
  switch (v.type->id) {
    case Id::Binary:
    case Id::Utf8:
      start = load<int32_t>(v.values, i);
      end = load<int32_t>(v.values, i + 1);
      break;
    case Id::LargeBinary:
    case Id::LargeUtf8:
      start = load<int64_t>(v.values, i);
      end = load<int64_t>(v.values, i + 1);
      break;
    default: {
      const std::byte* view = v.values + i * 16;
      const int32_t length = load<int32_t>(view, 0);
      if (length <= 12) return {reinterpret_cast<const char*>(view + 4), size_t(length)};
      // Past 12 bytes the view's buffer holds them, so it was checked not null.
      const auto* base = v.variadic[load<int32_t>(view + 8, 0)] + load<int32_t>(view + 12, 0);
      return {reinterpret_cast<const char*>(base), size_t(length)};
    }
  }
  // Offsets that span no bytes may come with a null data buffer, which no
  // offset may be added to.
  if (end == start) return {};
  return {reinterpret_cast<const char*>(v.data) + start, size_t(end - start)};
}

constexpr int64_t kDay = 86400;
constexpr int64_t kUnitsPerSecond[] = {1, 1000, 1000000, 1000000000};

bool fits_int32(int64_t v) {
  return v >= std::numeric_limits<int32_t>::min() && v <= std::numeric_limits<int32_t>::max();
}

Result<Cell, std::string> date_cell(const View& v, int64_t i, const ColumnType& column) {
  const DataType& t = *v.type;
  if (t.id == Id::Date32) return Cell::date32(load<int32_t>(v.values, i));
  // Only these hold 64-bit values: any other array may have no value buffer,
  // or a narrower one.
  if (t.id != Id::Date64 && (t.id != Id::Timestamp || t.zone)) return err(type_message(t, column));
  const int64_t raw = load<int64_t>(v.values, i);
  if (t.id == Id::Date64) {
    if (raw % (kDay * 1000) != 0) return err(std::to_string(raw) + " ms is not a whole day");
    if (!fits_int32(raw / (kDay * 1000))) return err(std::to_string(raw) + " ms is out of range");
    return Cell::date32(static_cast<int32_t>(raw / (kDay * 1000)));
  }
  const int64_t per_day = kDay * kUnitsPerSecond[static_cast<int>(t.unit)];
  if (raw % per_day != 0) {
    return err("timestamp " + std::to_string(raw) + " is not at midnight; give dates");
  }
  if (!fits_int32(raw / per_day)) return err(std::to_string(raw) + " is out of range");
  return Cell::date32(static_cast<int32_t>(raw / per_day));
}

Result<Cell, std::string> time_cell(const View& v, int64_t i, const ColumnType& column) {
  const DataType& t = *v.type;
  if (t.id != Id::Time32 && t.id != Id::Time64) return err(type_message(t, column));
  const int64_t raw = t.id == Id::Time32 ? load<int32_t>(v.values, i) : load<int64_t>(v.values, i);
  const int64_t per_second = kUnitsPerSecond[static_cast<int>(t.unit)];
  if (raw % per_second != 0) return err(std::to_string(raw) + " is not a whole second");
  if (!fits_int32(raw / per_second)) return err(std::to_string(raw) + " is out of range");
  return Cell::time32(static_cast<int32_t>(raw / per_second));
}

// The cell at element i (offset included) for a column of type `column`.
Result<Cell, std::string> cell(const View& v, int64_t i, const ColumnType& column) {
  const DataType& t = *v.type;
  if (t.id == Id::Null || !v.valid(i)) return Cell::null();
  if (v.dictionary) {
    const Integer key = integer(v, i);
    if (key.kind == Integer::Kind::NotInteger) return err(type_message(t, column));
    if (key.kind == Integer::Kind::Message) return err(key.message);
    if (key.value < 0 || key.value >= v.dictionary->length) {
      return err("the dictionary key " + std::to_string(key.value) + " is outside the column's " +
                 std::to_string(v.dictionary->length) + " dictionary values");
    }
    return cell(*v.dictionary, v.dictionary->offset + key.value, column);
  }
  switch (column.kind) {
    case ColumnType::Kind::Binary:
      switch (t.id) {
        case Id::Binary: case Id::LargeBinary: case Id::BinaryView:
        case Id::Utf8: case Id::LargeUtf8: case Id::Utf8View:
          return Cell::binary(bytes_at(v, i));
        default:
          return err(type_message(t, column));
      }
    case ColumnType::Kind::Int64: {
      Integer n = integer(v, i);
      if (n.kind == Integer::Kind::Value) return Cell::int64(n.value);
      if (n.kind == Integer::Kind::Message) return err(std::move(n.message));
      return err(type_message(t, column));
    }
    case ColumnType::Kind::Decimal128: {
      if (t.id == Id::Float32 || t.id == Id::Float64) {
        return err("an Arrow " + display(t) + " column is refused for the spec's " +
                   column::to_string(column) +
                   " values: a float may not hold the amount exactly; give decimal values "
                   "(decimal.Decimal in Python)");
      }
      auto d = decimal(v, i, column.scale);
      if (!d) return err(type_message(t, column));
      if (!d->ok()) return err(std::move(d->error()));
      return Cell::decimal128(d->value());
    }
    case ColumnType::Kind::Date32:
      return date_cell(v, i, column);
    case ColumnType::Kind::Time32:
      break;
  }
  return time_cell(v, i, column);
}

// ---- owners ----

// Takes over a C struct: the source is marked released at once, and the
// taken struct is released once, when the owner goes.
template <class T>
class Owned {
 public:
  explicit Owned(T* from) : s_(*from) { from->release = nullptr; }
  Owned(const Owned&) = delete;
  Owned& operator=(const Owned&) = delete;
  ~Owned() {
    if (s_.release != nullptr) s_.release(&s_);
  }
  T* get() { return &s_; }
  const T* get() const { return &s_; }

 private:
  T s_;
};

// The symbolic name of an errno code, from a fixed table: strerror's text
// follows the locale, and is not safe on other threads for codes it does
// not know.
std::string_view errno_name(int code) {
#define ZARVI_ERRNO(name) {name, #name}
  static constexpr std::pair<int, std::string_view> kNames[] = {
      ZARVI_ERRNO(EPERM),   ZARVI_ERRNO(ENOENT),    ZARVI_ERRNO(ESRCH),     ZARVI_ERRNO(EINTR),
      ZARVI_ERRNO(EIO),     ZARVI_ERRNO(ENXIO),     ZARVI_ERRNO(E2BIG),     ZARVI_ERRNO(ENOEXEC),
      ZARVI_ERRNO(EBADF),   ZARVI_ERRNO(ECHILD),    ZARVI_ERRNO(EAGAIN),    ZARVI_ERRNO(ENOMEM),
      ZARVI_ERRNO(EACCES),  ZARVI_ERRNO(EFAULT),    ZARVI_ERRNO(EBUSY),     ZARVI_ERRNO(EEXIST),
      ZARVI_ERRNO(EXDEV),   ZARVI_ERRNO(ENODEV),    ZARVI_ERRNO(ENOTDIR),   ZARVI_ERRNO(EISDIR),
      ZARVI_ERRNO(EINVAL),  ZARVI_ERRNO(ENFILE),    ZARVI_ERRNO(EMFILE),    ZARVI_ERRNO(ENOTTY),
      ZARVI_ERRNO(EFBIG),   ZARVI_ERRNO(ENOSPC),    ZARVI_ERRNO(ESPIPE),    ZARVI_ERRNO(EROFS),
      ZARVI_ERRNO(EMLINK),  ZARVI_ERRNO(EPIPE),     ZARVI_ERRNO(EDOM),      ZARVI_ERRNO(ERANGE),
      ZARVI_ERRNO(EDEADLK), ZARVI_ERRNO(ENAMETOOLONG), ZARVI_ERRNO(ENOSYS), ZARVI_ERRNO(ENOTEMPTY),
      ZARVI_ERRNO(ELOOP),   ZARVI_ERRNO(ENOMSG),    ZARVI_ERRNO(ENODATA),   ZARVI_ERRNO(ETIME),
      ZARVI_ERRNO(EOVERFLOW), ZARVI_ERRNO(EILSEQ),  ZARVI_ERRNO(ENOTSUP),   ZARVI_ERRNO(ETIMEDOUT),
      ZARVI_ERRNO(ECANCELED), ZARVI_ERRNO(EPROTO),  ZARVI_ERRNO(EBADMSG),   ZARVI_ERRNO(ECONNRESET),
  };
#undef ZARVI_ERRNO
  for (const auto& [value, name] : kNames)
    if (value == code) return name;
  return {};
}

std::string last_error(ArrowArrayStream* stream, int code) {
  const char* text = stream->get_last_error != nullptr ? stream->get_last_error(stream) : nullptr;
  if (text != nullptr) return text;
  std::string out = "the stream failed with error " + std::to_string(code);
  if (const std::string_view name = errno_name(code); !name.empty()) {
    out += " (";
    out += name;
    out += ")";
  }
  return out;
}

std::string quoted_list(ColumnList columns) {
  std::string out;
  for (const auto& c : columns) {
    if (!out.empty()) out += ", ";
    append_quoted(out, c.first);
  }
  return out;
}

Err<ImportError> refuse(std::string message) {
  return err(ImportError{ImportError::Kind::Refused, std::move(message)});
}

Err<ImportError> unopened(std::string message) {
  return err(ImportError{ImportError::Kind::Open, std::move(message)});
}

// The first failure in row-major order: within a row, a value that cannot
// be converted comes before a column's refusal to take one (rows are checked
// whole before they are appended).
struct Failure {
  int64_t row = std::numeric_limits<int64_t>::max();
  bool appending = false;
  size_t column = 0;
  std::string message;

  bool before(int64_t r, bool a, size_t c) const {
    return std::tie(r, a, c) < std::tie(row, appending, column);
  }
};

// Appends rows [0, limit) of column `v` (a batch column) to `data`, the
// table's column `c`, stopping at the first row that fails. Columns whose
// Arrow type is their own storage are copied in bulk, without a cell per
// row; the rest take the general conversion.
void append_column(const View& v, std::string_view table, column::table::Column& into, size_t c,
                   int64_t limit, int64_t first_row, Failure& failure) {
  column::ColumnData& data = into.data;
  const DataType& t = *v.type;
  const ColumnType type = data.type();
  // The general conversion, from row `from` on.
  const auto convert = [&](int64_t from) {
    for (int64_t r = from; r < limit; ++r) {
      auto converted = cell(v, v.offset + r, type);
      if (!converted.ok()) {
        if (failure.before(first_row + r, false, c)) {
          failure = {first_row + r, false, c, std::move(converted.error())};
        }
        return;
      }
      const Cell& value = converted.value();
      if (value.kind() == Cell::Kind::Binary && !data.fits(value.bytes().size())) {
        if (failure.before(first_row + r, true, c)) {
          const column::table::RowError refused{column::table::RowError::Kind::Cell, std::string(table), 0, 0,
                                         into.name, data.check(value).error()};
          failure = {first_row + r, true, c, column::table::to_string(refused)};
        }
        return;
      }
      data.push_accepted(value);
    }
  };
  const size_t n = static_cast<size_t>(limit);
  if (!v.dictionary) {
    switch (type.kind) {
      case ColumnType::Kind::Binary:
        if (t.id == Id::Binary || t.id == Id::Utf8 || t.id == Id::LargeBinary ||
            t.id == Id::LargeUtf8) {
          if (limit == 0) return;
          // The offsets were checked; the span of the rows bounds their
          // bytes, nulls' included.
          const bool narrow = t.id == Id::Binary || t.id == Id::Utf8;
          const int64_t span = narrow ? int64_t{load<int32_t>(v.values, v.offset + limit)} -
                                            load<int32_t>(v.values, v.offset)
                                      : load<int64_t>(v.values, v.offset + limit) -
                                            load<int64_t>(v.values, v.offset);
          if (data.fits(static_cast<size_t>(span))) {
            data.reserve(n, static_cast<size_t>(span));
            if (narrow) {
              data.append_offsets32(v.values, v.data, v.validity, v.offset, n);
            } else {
              data.append_offsets64(v.values, v.data, v.validity, v.offset, n);
            }
            return;
          }
          return convert(0);  // a row is refused: found there
        }
        if (t.id == Id::BinaryView || t.id == Id::Utf8View) {
          size_t total = 0;
          for (int64_t r = 0; r < limit; ++r) {
            if (v.valid(v.offset + r)) {
              total += static_cast<size_t>(load<int32_t>(v.values + (v.offset + r) * 16, 0));
            }
          }
          if (!data.fits(total)) return convert(0);
          data.reserve(n, total);
          data.append_binary(v.validity, v.offset, n, total, [&](size_t k) {
            const std::byte* view = v.values + (v.offset + static_cast<int64_t>(k)) * 16;
            const int32_t length = load<int32_t>(view, 0);
            const std::byte* at = length <= 12 ? view + 4
                                               : v.variadic[load<int32_t>(view + 8, 0)] +
                                                     load<int32_t>(view + 12, 0);
            return std::string_view(reinterpret_cast<const char*>(at), size_t(length));
          });
          return;
        }
        break;
      case ColumnType::Kind::Int64:
        if (t.id == Id::Int64) return data.append_values(v.values, v.validity, v.offset, n);
        break;
      case ColumnType::Kind::Decimal128:
        if (t.id == Id::Decimal && t.bits == 128 && t.scale == type.scale) {
          return data.append_values(v.values, v.validity, v.offset, n);
        }
        break;
      case ColumnType::Kind::Date32:
        if (t.id == Id::Date32) return data.append_values(v.values, v.validity, v.offset, n);
        break;
      case ColumnType::Kind::Time32:
        if (t.id == Id::Time32 && t.unit == Unit::Second) {
          return data.append_values(v.values, v.validity, v.offset, n);
        }
        break;
    }
  }
  data.reserve(n);
  convert(0);
}

// Appends a batch's rows to `columns`; `first_row` numbers its row 0 in the
// whole input. Any failure refuses the whole table, so columns may be left
// uneven by one.
Result<Unit, ImportError> read_batch(const std::vector<View>& views, std::string_view name,
                                     std::vector<column::table::Column>& columns, int64_t rows,
                                     int64_t first_row) {
  Failure failure;
  for (size_t c = 0; c < views.size(); ++c) {
    // Rows past an earlier failure cannot hold the first one.
    const int64_t limit = std::min(rows - 1, failure.row - first_row) + 1;
    append_column(views[c], name, columns[c], c, limit, first_row, failure);
  }
  if (failure.row == std::numeric_limits<int64_t>::max()) return Unit{};
  const std::string& column = columns[failure.column].name;
  if (failure.appending) return refuse(std::move(failure.message));
  return refuse("table " + quote_bytes(name) + " column " + quote_bytes(column) + " row " +
                std::to_string(failure.row) + ": " + failure.message);
}

}  // namespace

Result<Table, ImportError> import_table(ArrowArrayStream* in, std::string_view name,
                                        ColumnList columns) {
  if (in == nullptr || in->release == nullptr) {
    return unopened("the Arrow stream is missing or already released");
  }
  Owned<ArrowArrayStream> stream(in);
  ArrowArrayStream* s = stream.get();
  if (s->get_schema == nullptr || s->get_next == nullptr) {
    return unopened("the Arrow stream lacks its callbacks");
  }
  ArrowSchema raw_schema{};
  const int got = s->get_schema(s, &raw_schema);
  Owned<ArrowSchema> schema(&raw_schema);
  if (got != 0) return unopened(last_error(s, got));
  const int64_t max_nodes =
      kNodesPerColumn * (static_cast<int64_t>(columns.size()) + 1) + kMaxDepth;
  int64_t nodes_left = max_nodes;
  auto root = parse_field(schema.get(), 0, nodes_left);
  if (nodes_left < 0) {
    return refuse("table " + quote_bytes(name) + " could not be read: the schema has more than " +
                  std::to_string(max_nodes) + " fields");
  }
  if (!root.ok()) return unopened(std::move(root.error()));
  const DataType& batch_type = root.value().type;
  if (batch_type.id != Id::Struct || batch_type.values) {
    return unopened("the stream's schema is " + display(batch_type) + ", not a struct of columns");
  }

  const std::string table_name = quote_bytes(name);
  // Lookups by name, not scans: a table may have many columns.
  std::map<std::string_view, const std::pair<std::string, ColumnType>*> spec_columns;
  for (const auto& c : columns) spec_columns.try_emplace(c.first, &c);
  std::set<std::string_view> seen;
  std::vector<std::pair<std::string, ColumnType>> typed;
  for (const Field& f : batch_type.children) {
    const auto spec_column = spec_columns.find(f.name);
    if (spec_column == spec_columns.end()) {
      return refuse("table " + table_name + " has no column " + quote_bytes(f.name) +
                    " in the spec; its columns are " + quoted_list(columns));
    }
    if (!seen.insert(f.name).second) {
      return refuse("table " + table_name + " could not be read: the column " +
                    quote_bytes(f.name) + " appears more than once");
    }
    typed.emplace_back(f.name, spec_column->second->second);
  }
  std::vector<column::table::Column> table_columns;
  table_columns.reserve(typed.size());
  for (auto& [column_name, type] : typed) {
    table_columns.push_back(column::table::Column{std::move(column_name), column::ColumnData(type)});
  }

  const auto unreadable = [&](const std::string& why) {
    return refuse("table " + table_name + " could not be read: " + why);
  };
  std::vector<View> views;
  int64_t rows_before = 0;
  for (;;) {
    ArrowArray raw_batch{};
    const int next = s->get_next(s, &raw_batch);
    Owned<ArrowArray> batch(&raw_batch);
    if (next != 0) return unreadable(last_error(s, next));
    const ArrowArray* b = batch.get();
    if (b->release == nullptr) break;  // the end of the stream
    auto top = view_of(b, batch_type, 0, std::nullopt, 0);
    if (!top.ok()) return unreadable(top.error());
    if (b->n_children != static_cast<int64_t>(batch_type.children.size())) {
      return unreadable("a batch has " + std::to_string(b->n_children) + " columns; the schema " +
                        std::to_string(batch_type.children.size()));
    }
    views.clear();
    for (size_t c = 0; c < batch_type.children.size(); ++c) {
      auto v = view_of(b->children[c], batch_type.children[c].type, top->offset, top->length, 1);
      if (!v.ok()) {
        return unreadable("column " + quote_bytes(batch_type.children[c].name) + ": " + v.error());
      }
      views.push_back(std::move(v.value()));
    }
    auto read = read_batch(views, name, table_columns, top->length, rows_before);
    if (!read.ok()) return err(std::move(read.error()));
    rows_before += top->length;
  }
  auto table = Table::of_columns(std::string(name), std::move(table_columns),
                                 static_cast<size_t>(rows_before));
  if (!table) return unreadable("the columns were left uneven");
  return std::move(*table);
}

}  // namespace zarvi_core::arrow
