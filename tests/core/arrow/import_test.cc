#include "zarvi_core/arrow/import.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstring>
#include <deque>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace zarvi_core::arrow {
namespace {

using column::ColumnType;
using column::table::Table;

void release_child_schema(ArrowSchema* s) { s->release = nullptr; }
void release_child_array(ArrowArray* a) { a->release = nullptr; }

// A hand-made producer: every struct and buffer lives here, so a test can
// break any field; the top-level stream, schema and batches count their
// releases, and a second release of any of them is counted too.
class Producer {
 public:
  ~Producer() = default;

  template <class T>
  const void* buffer(std::vector<T> values, size_t misalign = 0) {
    auto& bytes = bytes_.emplace_back(values.size() * sizeof(T) + misalign + 1);
    if (!values.empty()) {
      std::memcpy(bytes.data() + misalign, values.data(), values.size() * sizeof(T));
    }
    return bytes.data() + misalign;
  }
  const void* text(std::string_view chars) {
    return buffer(std::vector<char>(chars.begin(), chars.end()));
  }
  const void* bits(std::vector<bool> valid) {
    std::vector<uint8_t> out((valid.size() + 7) / 8);
    for (size_t i = 0; i < valid.size(); ++i)
      if (valid[i]) out[i / 8] |= uint8_t(1u << (i % 8));
    return buffer(out);
  }

  ArrowSchema* field(std::string format, std::string name = "c",
                     std::vector<ArrowSchema*> children = {}, ArrowSchema* dictionary = nullptr) {
    const char* f = strings_.emplace_back(std::move(format)).c_str();
    const char* n = strings_.emplace_back(std::move(name)).c_str();
    auto& kids = schema_lists_.emplace_back(std::move(children));
    ArrowSchema& s = schemas_.emplace_back();
    s = ArrowSchema{f, n, nullptr, ARROW_FLAG_NULLABLE, static_cast<int64_t>(kids.size()),
                    kids.empty() ? nullptr : kids.data(), dictionary, release_child_schema,
                    nullptr};
    return &s;
  }

  ArrowArray* array(int64_t length, std::vector<const void*> buffers,
                    std::vector<ArrowArray*> children = {}, ArrowArray* dictionary = nullptr,
                    int64_t null_count = 0, int64_t offset = 0) {
    auto& bufs = buffer_lists_.emplace_back(std::move(buffers));
    auto& kids = array_lists_.emplace_back(std::move(children));
    ArrowArray& a = arrays_.emplace_back();
    a = ArrowArray{length, null_count, offset, static_cast<int64_t>(bufs.size()),
                   static_cast<int64_t>(kids.size()), bufs.empty() ? nullptr : bufs.data(),
                   kids.empty() ? nullptr : kids.data(), dictionary, release_child_array,
                   nullptr};
    return &a;
  }

  // A record batch of these columns.
  ArrowArray* batch(int64_t length, std::vector<ArrowArray*> columns) {
    return array(length, {nullptr}, std::move(columns));
  }
  ArrowSchema* root(std::vector<ArrowSchema*> fields) { return field("+s", "", std::move(fields)); }

  // The stream: get_next fails (with `failure`) in place of batch
  // `fail_at`, when set.
  ArrowArrayStream stream(ArrowSchema* root, std::vector<ArrowArray*> batches,
                          std::optional<size_t> fail_at = std::nullopt) {
    root_ = root;
    batches_ = std::move(batches);
    fail_at_ = fail_at;
    ArrowArrayStream s{};
    s.get_schema = [](ArrowArrayStream* self, ArrowSchema* out) {
      Producer* p = of(self);
      if (p->schema_fails) return p->error_code;
      *out = *p->root_;
      out->release = [](ArrowSchema* schema) {
        ++of(schema)->schema_releases;
        schema->release = nullptr;
      };
      out->private_data = p;
      return 0;
    };
    s.get_next = [](ArrowArrayStream* self, ArrowArray* out) {
      Producer* p = of(self);
      if (p->fail_at_ && p->next_ == *p->fail_at_) return p->error_code;
      if (p->next_ == p->batches_.size()) {
        out->release = nullptr;
        return 0;
      }
      *out = *p->batches_[p->next_++];
      ++p->handed;
      out->release = [](ArrowArray* array) {
        ++of(array)->batch_releases;
        array->release = nullptr;
      };
      out->private_data = p;
      return 0;
    };
    s.get_last_error = [](ArrowArrayStream* self) -> const char* {
      return of(self)->error_text;
    };
    s.release = [](ArrowArrayStream* self) {
      ++of(self)->stream_releases;
      self->release = nullptr;
    };
    s.private_data = this;
    return s;
  }

  // Every struct this producer handed out was released exactly once.
  void expect_released_once() const {
    EXPECT_EQ(stream_releases, 1);
    EXPECT_EQ(schema_releases, schema_fails ? 0 : 1);
    EXPECT_EQ(batch_releases, handed);
  }

  bool schema_fails = false;
  const char* error_text = "boom";
  int error_code = EIO;
  int stream_releases = 0;
  int schema_releases = 0;
  int batch_releases = 0;
  int handed = 0;

 private:
  template <class T>
  static Producer* of(T* s) {
    return static_cast<Producer*>(s->private_data);
  }

  std::deque<std::vector<std::byte>> bytes_;
  std::deque<std::string> strings_;
  std::deque<std::vector<ArrowSchema*>> schema_lists_;
  std::deque<std::vector<const void*>> buffer_lists_;
  std::deque<std::vector<ArrowArray*>> array_lists_;
  std::deque<ArrowSchema> schemas_;
  std::deque<ArrowArray> arrays_;
  ArrowSchema* root_ = nullptr;
  std::vector<ArrowArray*> batches_;
  std::optional<size_t> fail_at_;
  size_t next_ = 0;
};

using Columns = std::vector<std::pair<std::string, ColumnType>>;

Result<Table, ImportError> run(Producer& p, ArrowArrayStream stream, const Columns& columns) {
  auto out = import_table(&stream, "t", columns);
  EXPECT_EQ(stream.release, nullptr);  // taken over at once
  p.expect_released_once();
  return out;
}

// The table's text, or the refusal.
std::string outcome(const Result<Table, ImportError>& r) {
  if (r.ok()) return column::table::to_string(r.value());
  return (r.error().kind == ImportError::Kind::Open ? "open: " : "") + r.error().message;
}

// A one-column table made of array `a` of format `format`, as column `type`.
std::string single(Producer& p, std::string format, ArrowArray* a, ColumnType type,
                   ArrowSchema* dictionary = nullptr) {
  ArrowSchema* root = p.root({p.field(std::move(format), "c", {}, dictionary)});
  return outcome(run(p, p.stream(root, {p.batch(a->length, {a})}), {{"c", type}}));
}

std::string refused(std::string_view row_and_why) {
  return "table \"t\" column \"c\" row " + std::string(row_and_why);
}

// A maker of a plain array of `values`.
template <class T>
std::function<ArrowArray*(Producer&)> plain(std::vector<T> values) {
  return [=](Producer& p) { return p.array(int64_t(values.size()), {nullptr, p.buffer(values)}); };
}

TEST(ArrowImport, ConvertsValuesByColumnType) {
  struct Case {
    std::string name;
    std::string format;
    ColumnType type;
    std::function<ArrowArray*(Producer&)> make;
    std::string expected;  // the table's rows, or the refusal
  };
  const auto rows = [](std::string header, std::vector<std::string> lines) {
    std::string out = "## t (rows: " + std::to_string(lines.size()) + ")\nc: " + header + "\n";
    for (const auto& l : lines) out += l + "\n";
    return out + "\n";
  };
  const auto i64 = ColumnType::int64();
  const auto dec = ColumnType::decimal128(38, 2);
  const auto date = ColumnType::date32();
  const auto time = ColumnType::time32();
  const auto bin = ColumnType::binary();
  const std::vector<Case> cases = {
      {"int8 and nulls", "c", i64,
       [](Producer& p) {
         return p.array(3, {p.bits({true, false, true}), p.buffer<int8_t>({-5, 0, 7})}, {},
                        nullptr, 1);
       },
       rows("int64", {"-5", "\u2205", "7"})},
      {"unaligned int64", "l", i64,
       [](Producer& p) { return p.array(2, {nullptr, p.buffer<int64_t>({1, -2}, 3)}); },
       rows("int64", {"1", "-2"})},
      {"uint64 too big", "L", i64,
       [](Producer& p) {
         return p.array(2, {nullptr, p.buffer<uint64_t>({1, 9223372036854775808ull})});
       },
       refused("1: 9223372036854775808 does not fit a 64-bit integer")},
      {"whole floats", "g", i64, plain<double>({3.0, -4.0}), rows("int64", {"3", "-4"})},
      {"fractional float", "g", i64, plain<double>({2.5}), refused("0: 2.5 is not a whole number")},
      {"huge float without exponent", "g", i64, plain<double>({1e19}),
       refused("0: 10000000000000000000 is not a whole number")},
      {"float32 shortest", "f", i64, plain<float>({0.1f}), refused("0: 0.1 is not a whole number")},
      {"float for decimal", "g", dec, plain<double>({3.0}),
       refused("0: an Arrow Float64 column is refused for the spec's decimal128(38, 2) values: "
               "a float may not hold the amount exactly; give decimal values "
               "(decimal.Decimal in Python)")},
      {"integer for decimal", "l", dec, plain<int64_t>({3}),
       refused("0: an Arrow Int64 column cannot hold the spec's decimal128(38, 2) values")},
      {"decimal scale up", "d:5,1", dec, plain<i128>({125}), rows("decimal128(38, 2)", {"12.50"})},
      {"decimal scale down exact", "d:6,3", dec, plain<i128>({-12340}),
       rows("decimal128(38, 2)", {"-12.34"})},
      {"decimal scale down inexact", "d:6,3", dec, plain<i128>({12345}),
       refused("0: 12345 at scale 3 has more decimals than the column's scale 2")},
      {"decimal overflow", "d:38,-30", dec, plain<i128>({10000000}),
       refused("0: 10000000 at scale -30 overflows scale 2")},
      // 10^39 is past what an i128 holds, even for a value of 1.
      {"decimal 39 places up", "d:38,-37", dec, plain<i128>({1}),
       refused("0: 1 at scale -37 overflows scale 2")},
      {"decimal scale too far below to subtract", "d:38,-9223372036854775806", dec,
       plain<i128>({7}),
       refused("0: 7 at scale -9223372036854775806 overflows scale 2")},
      {"decimal lowest scale", "d:38,-9223372036854775808", ColumnType::decimal128(38, 0),
       plain<i128>({7}), refused("0: 7 at scale -9223372036854775808 overflows scale 0")},
      {"decimal256", "d:40,2,256", dec,
       [](Producer& p) { return p.array(1, {nullptr, p.buffer<i128>({1, 0})}); },
       refused("0: an Arrow Decimal256(40, 2) column cannot hold the spec's decimal128(38, 2) "
               "values")},
      {"string for date", "u", date,
       [](Producer& p) { return p.array(1, {nullptr, p.buffer<int32_t>({0, 1}), p.text("x")}); },
       refused("0: an Arrow Utf8 column cannot hold the spec's date32 values")},
      {"timestamp at midnight", "tss:", date, plain<int64_t>({86400}),
       rows("date32", {"1970-01-02"})},
      {"timestamp past midnight", "tsm:", date, plain<int64_t>({86400001}),
       refused("0: timestamp 86400001 is not at midnight; give dates")},
      {"timestamp out of range", "tss:", date, plain<int64_t>({86400 * 3000000000ll}),
       refused("0: 259200000000000 is out of range")},
      {"zoned timestamp", "tsu:UTC", date, plain<int64_t>({0}),
       refused("0: an Arrow Timestamp(Microsecond, Some(\"UTC\")) column cannot hold the spec's "
               "date32 values")},
      {"date64 part day", "tdm", date, plain<int64_t>({1000}),
       refused("0: 1000 ms is not a whole day")},
      {"date64 out of range", "tdm", date, plain<int64_t>({86400000ll << 32}),
       refused("0: 371085174374400000 ms is out of range")},
      {"time32 ms", "ttm", time, plain<int32_t>({3600000, 90000000}),
       rows("time32 (seconds)", {"01:00:00", "time32(90000)"})},
      {"time64 part second", "ttn", time, plain<int64_t>({1500000000}),
       refused("0: 1500000000 is not a whole second")},
      {"time64 out of range", "ttu", time, plain<int64_t>({1000000ll << 32}),
       refused("0: 4294967296000000 is out of range")},
      {"boolean for binary", "b", bin, plain<uint8_t>({1}),
       refused("0: an Arrow Boolean column cannot hold the spec's binary values")},
      {"null type", "n", bin, [](Producer& p) { return p.array(2, {}); },
       rows("binary", {"\u2205", "\u2205"})},
      {"large utf8 with offset", "U", bin,
       [](Producer& p) {
         return p.array(2, {nullptr, p.buffer<int64_t>({0, 1, 3, 6}), p.text("abcdef")},
                        {}, nullptr, 0, 1);
       },
       rows("binary", {"bc", "def"})},
      {"utf8 with offset and a null over bytes", "u", bin,
       [](Producer& p) {
         return p.array(3, {p.bits({true, true, false, true}),
                            p.buffer<int32_t>({0, 1, 3, 6, 8}), p.text("abcdefgh")},
                        {}, nullptr, 1, 1);
       },
       rows("binary", {"bc", "\u2205", "gh"})},
      {"utf8 views inline and not", "vu", bin,
       [](Producer& p) {
         std::vector<int32_t> views = {2, 0x6968, 0, 0, 13, 0x41414141, 0, 1};
         const char text[] = "-ABCDEFGHIJKLM";
         return p.array(2, {nullptr, p.buffer(views), p.buffer(std::vector<char>(text, text + 14)),
                            p.buffer<int64_t>({14})});
       },
       rows("binary", {"hi", "ABCDEFGHIJKLM"})},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Producer p;
    EXPECT_EQ(single(p, c.format, c.make(p), c.type), c.expected);
  }
}

// One Arrow type: its schema, an array of one zeroed element from element
// `offset` on (every buffer exactly as long as the format needs, so that a
// wider read is caught), and the column kinds that take its values.
struct ArrowType {
  std::string display;
  std::function<ArrowSchema*(Producer&)> schema;
  std::function<ArrowArray*(Producer&, int64_t offset)> array;
  std::vector<ColumnType::Kind> takes;
};

template <class T>
const void* zeros(Producer& p, int64_t count) {
  std::vector<T> values(static_cast<size_t>(count));
  return p.buffer(values);
}

// Every type of the C data interface, nested types over one Int64 child.
std::vector<ArrowType> every_arrow_type() {
  using K = ColumnType::Kind;
  const std::vector<K> all = {K::Binary, K::Int64, K::Decimal128, K::Date32, K::Time32};
  const auto flat = [](std::string format, std::string display, int64_t width,
                       std::vector<K> takes = {}) {
    return ArrowType{display, [=](Producer& p) { return p.field(format); },
                     [=](Producer& p, int64_t offset) {
                       return p.array(1, {nullptr, zeros<char>(p, (offset + 1) * width)}, {},
                                      nullptr, 0, offset);
                     },
                     takes};
  };
  const auto offsets = [](std::string format, std::string display, int64_t width) {
    return ArrowType{display, [=](Producer& p) { return p.field(format); },
                     [=](Producer& p, int64_t offset) {
                       const void* ends = zeros<char>(p, (offset + 2) * width);
                       return p.array(1, {nullptr, ends, p.text("")}, {}, nullptr, 0, offset);
                     },
                     {K::Binary}};
  };
  const auto views = [](std::string format, std::string display) {
    return ArrowType{display, [=](Producer& p) { return p.field(format); },
                     [=](Producer& p, int64_t offset) {
                       return p.array(1, {nullptr, zeros<char>(p, (offset + 1) * 16),
                                          zeros<int64_t>(p, 0)},
                                      {}, nullptr, 0, offset);
                     },
                     {K::Binary}};
  };
  // A nested type: its own buffers (`widths` bytes per element each, the
  // first the validity, given none) over int64 children `names`.
  const auto nested = [](std::string format, std::string display, std::vector<int64_t> widths,
                         std::vector<std::string> names) {
    return ArrowType{display,
                     [=](Producer& p) {
                       std::vector<ArrowSchema*> kids;
                       for (const auto& n : names) kids.push_back(p.field("l", n));
                       return p.field(format, "c", kids);
                     },
                     [=](Producer& p, int64_t offset) {
                       std::vector<const void*> buffers;
                       for (int64_t w : widths) {
                         buffers.push_back(w == 0 ? nullptr : zeros<char>(p, (offset + 2) * w));
                       }
                       std::vector<ArrowArray*> kids;
                       for (size_t k = 0; k < names.size(); ++k) {
                         kids.push_back(p.array(1, {nullptr, zeros<int64_t>(p, 1)}));
                       }
                       return p.array(1, buffers, kids, nullptr, 0, offset);
                     },
                     {}};
  };
  return {
      {"Null", [](Producer& p) { return p.field("n"); },
       [](Producer& p, int64_t offset) { return p.array(1, {}, {}, nullptr, 0, offset); }, all},
      flat("b", "Boolean", 1),
      flat("c", "Int8", 1, {K::Int64}),
      flat("C", "UInt8", 1, {K::Int64}),
      flat("s", "Int16", 2, {K::Int64}),
      flat("S", "UInt16", 2, {K::Int64}),
      flat("i", "Int32", 4, {K::Int64}),
      flat("I", "UInt32", 4, {K::Int64}),
      flat("l", "Int64", 8, {K::Int64}),
      flat("L", "UInt64", 8, {K::Int64}),
      flat("e", "Float16", 2),
      flat("f", "Float32", 4, {K::Int64}),
      flat("g", "Float64", 8, {K::Int64}),
      offsets("z", "Binary", 4),
      offsets("Z", "LargeBinary", 8),
      views("vz", "BinaryView"),
      offsets("u", "Utf8", 4),
      offsets("U", "LargeUtf8", 8),
      views("vu", "Utf8View"),
      flat("w:3", "FixedSizeBinary(3)", 3),
      flat("d:9,2,32", "Decimal32(9, 2)", 4),
      flat("d:18,2,64", "Decimal64(18, 2)", 8),
      flat("d:38,2", "Decimal128(38, 2)", 16, {K::Decimal128}),
      flat("d:76,2,256", "Decimal256(76, 2)", 32),
      flat("tdD", "Date32", 4, {K::Date32}),
      flat("tdm", "Date64", 8, {K::Date32}),
      flat("tts", "Time32(Second)", 4, {K::Time32}),
      flat("ttm", "Time32(Millisecond)", 4, {K::Time32}),
      flat("ttu", "Time64(Microsecond)", 8, {K::Time32}),
      flat("ttn", "Time64(Nanosecond)", 8, {K::Time32}),
      flat("tsn:", "Timestamp(Nanosecond, None)", 8, {K::Date32}),
      flat("tss:UTC", "Timestamp(Second, Some(\"UTC\"))", 8),
      flat("tDm", "Duration(Millisecond)", 8),
      flat("tiM", "Interval(YearMonth)", 4),
      flat("tiD", "Interval(DayTime)", 8),
      flat("tin", "Interval(MonthDayNano)", 16),
      nested("+l", "List(Int64)", {0, 4}, {"item"}),
      nested("+L", "LargeList(Int64)", {0, 8}, {"item"}),
      nested("+vl", "ListView(Int64)", {0, 4, 4}, {"item"}),
      nested("+vL", "LargeListView(Int64)", {0, 8, 8}, {"item"}),
      nested("+w:1", "FixedSizeList(1, Int64)", {0}, {"item"}),
      nested("+s", "Struct(a: Int64)", {0}, {"a"}),
      nested("+s", "Struct(a: Int64, b: Int64)", {0}, {"a", "b"}),
      nested("+m", "Map(Int64)", {0, 4}, {"entries"}),
      nested("+ud:0,1", "Union(Dense, a: Int64, b: Int64)", {1, 4}, {"a", "b"}),
      nested("+us:0", "Union(Sparse, a: Int64)", {1}, {"a"}),
      nested("+r", "RunEndEncoded(Int64, Int64)", {}, {"run_ends", "values"}),
  };
}

// Every Arrow type against every column type, plain, far into its buffers
// and as a dictionary's values: values that the column takes convert, all
// others are refused by type, before any of their buffers is read.
TEST(ArrowImport, EveryArrowTypeIsCheckedBeforeItsValuesAreRead) {
  struct Column {
    ColumnType type;
    std::string display;
  };
  const std::vector<Column> columns = {
      {ColumnType::binary(), "binary"},
      {ColumnType::int64(), "int64"},
      {ColumnType::int64(2), "int64 (scale 2)"},
      {ColumnType::decimal128(38, 0), "decimal128(38, 0)"},
      {ColumnType::decimal128(38, 2), "decimal128(38, 2)"},
      {ColumnType::date32(), "date32"},
      {ColumnType::time32(), "time32 (seconds)"},
  };
  for (const ArrowType& arrow : every_arrow_type()) {
    for (const Column& column : columns) {
      for (const std::string variant : {"plain", "sliced", "dictionary"}) {
        SCOPED_TRACE(arrow.display + " as " + column.display + ", " + variant);
        const bool takes = std::find(arrow.takes.begin(), arrow.takes.end(),
                                     column.type.kind) != arrow.takes.end();
        std::string expected = "0: an Arrow " + arrow.display + " column cannot hold the spec's " +
                               column.display + " values";
        if (column.type.kind == ColumnType::Kind::Decimal128 &&
            (arrow.display == "Float32" || arrow.display == "Float64")) {
          expected = "0: an Arrow " + arrow.display + " column is refused for the spec's " +
                     column.display + " values: a float may not hold the amount exactly; give "
                     "decimal values (decimal.Decimal in Python)";
        }
        Producer p;
        const Columns spec = {{"c", column.type}};
        ArrowSchema* field = arrow.schema(p);
        ArrowArray* array = arrow.array(p, variant == "sliced" ? 4096 : 0);
        if (variant == "dictionary") {
          ArrowArray* keys = p.array(1, {nullptr, p.buffer<int8_t>({0})}, {}, array);
          field = p.field("c", "c", {}, field);
          array = keys;
        }
        auto r = run(p, p.stream(p.root({field}), {p.batch(1, {array})}), spec);
        if (takes) {
          EXPECT_TRUE(r.ok()) << outcome(r);
        } else {
          EXPECT_EQ(outcome(r), refused(expected));
        }
      }
    }
  }
}

TEST(ArrowImport, DictionariesResolveKeysAndKeepNulls) {
  struct Case {
    std::string name;
    std::string key_format;
    std::vector<int32_t> keys;
    std::string expected;
  };
  const std::vector<Case> cases = {
      {"keys", "i", {1, 0, 1}, "b\n\u2205\nb"},
      {"key past the values", "i", {0, 0, 2}, ""},
      {"negative key", "i", {-1, 0, 0}, ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Producer p;
    ArrowArray* values = p.array(2, {nullptr, p.buffer<int32_t>({0, 1, 2}), p.text("ab")});
    ArrowArray* keys = p.array(3, {p.bits({true, false, true}), p.buffer(c.keys)}, {}, values, 1);
    const std::string got = single(p, c.key_format, keys, ColumnType::binary(), p.field("u", "v"));
    if (c.expected.empty()) {
      const std::string key =
          c.keys[0] < 0 ? "0: the dictionary key -1" : "2: the dictionary key 2";
      EXPECT_EQ(got, refused(key + " is outside the column's 2 dictionary values"));
    } else {
      EXPECT_EQ(got, "## t (rows: 3)\nc: binary\n" + c.expected + "\n\n");
    }
  }
  Producer p;
  ArrowArray* values = p.array(1, {nullptr, p.buffer<int32_t>({0, 1}), p.text("a")});
  ArrowArray* keys = p.array(1, {nullptr, p.buffer<uint8_t>({1})}, {}, values);
  EXPECT_EQ(single(p, "b", keys, ColumnType::binary(), p.field("u", "v")),
            refused("0: an Arrow Dictionary(Boolean, Utf8) column cannot hold the spec's binary "
                    "values"));
}

// The C data interface lets a buffer that holds no bytes be null, at any
// array offset. Each such array imports, plain and as a dictionary's values,
// and reads as what its struct holds; nothing is computed from the null.
TEST(ArrowImport, NullBuffersHoldingNoBytesReadAsTheyShould) {
  constexpr int64_t kOffset = 3;
  struct Case {
    std::string name;
    std::string format;
    ColumnType type;
    int64_t length;
    // Read from element kOffset on.
    std::function<std::vector<const void*>(Producer&)> buffers;
    std::vector<std::string> values;  // as the table shows them
  };
  const auto i64 = ColumnType::int64();
  const auto bin = ColumnType::binary();
  const auto none = [](size_t n) {
    return [n](Producer&) { return std::vector<const void*>(n, nullptr); };
  };
  std::vector<Case> cases = {
      {"no validity, int64", "l", i64, 2,
       [](Producer& p) -> std::vector<const void*> {
         return {nullptr, p.buffer<int64_t>({9, 9, 9, 7, -8})};
       },
       {"7", "-8"}},
      {"no validity, int8", "c", i64, 1,
       [](Producer& p) -> std::vector<const void*> {
         return {nullptr, p.buffer<int8_t>({9, 9, 9, -5})};
       },
       {"-5"}},
      // A scale of its own takes the general conversion, not the bulk copy.
      {"empty decimal128, own scale", "d:10,1", ColumnType::decimal128(38, 2), 0, none(2), {}},
      {"empty decimal128, column's scale", "d:38,2", ColumnType::decimal128(38, 2), 0, none(2),
       {}},
  };
  for (const char* format : {"c", "s", "i", "l", "C", "S", "I", "L", "f", "g"}) {
    cases.push_back({std::string("empty ") + format, format, i64, 0, none(2), {}});
  }
  for (const char* format : {"tdD", "tdm", "tss:", "tsn:"}) {
    cases.push_back({std::string("empty ") + format, format, ColumnType::date32(), 0, none(2), {}});
  }
  for (const char* format : {"tts", "ttm", "ttu", "ttn"}) {
    cases.push_back({std::string("empty ") + format, format, ColumnType::time32(), 0, none(2), {}});
  }
  for (const char* format : {"z", "u", "Z", "U"}) {
    // Offsets from 1 on: an offset added to the null data would not be 0.
    const bool wide = std::isupper(static_cast<unsigned char>(format[0]));
    cases.push_back({std::string("offsets without bytes ") + format, format, bin, 2,
                     [=](Producer& p) -> std::vector<const void*> {
                       const void* ends = wide ? p.buffer<int64_t>({0, 1, 1, 1, 1, 1})
                                               : p.buffer<int32_t>({0, 1, 1, 1, 1, 1});
                       return {nullptr, ends, nullptr};
                     },
                     {"", ""}});
    cases.push_back({std::string("empty ") + format, format, bin, 0, none(3), {}});
  }
  for (const char* format : {"vz", "vu"}) {
    // Views 3 and 4: empty, then "hi" inline.
    const auto views = [](Producer& p) {
      std::vector<int32_t> v(5 * 4);
      v[4 * 4] = 2;
      v[4 * 4 + 1] = 0x6968;
      return p.buffer(v);
    };
    cases.push_back({std::string("inline, no data buffers ") + format, format, bin, 2,
                     [=](Producer& p) -> std::vector<const void*> {
                       return {nullptr, views(p), nullptr};
                     },
                     {"", "hi"}});
    cases.push_back({std::string("inline, an empty data buffer ") + format, format, bin, 2,
                     [=](Producer& p) -> std::vector<const void*> {
                       return {nullptr, views(p), nullptr, p.buffer<int64_t>({0})};
                     },
                     {"", "hi"}});
    cases.push_back({std::string("empty ") + format, format, bin, 0, none(3), {}});
    cases.push_back({std::string("empty, an empty data buffer ") + format, format, bin, 0,
                     [](Producer& p) -> std::vector<const void*> {
                       return {nullptr, nullptr, nullptr, p.buffer<int64_t>({0})};
                     },
                     {}});
  }
  const auto table = [](const ColumnType& type, const std::vector<std::string>& values) {
    std::string out = "## t (rows: " + std::to_string(values.size()) + ")\nc: " +
                      column::to_string(type) + "\n";
    for (const auto& v : values) out += v + "\n";
    return out + "\n";
  };
  for (const Case& c : cases) {
    for (const bool dictionary : {false, true}) {
      SCOPED_TRACE(c.name + (dictionary ? ", dictionary" : ""));
      Producer p;
      ArrowArray* array = p.array(c.length, c.buffers(p), {}, nullptr, 0, kOffset);
      if (!dictionary) {
        EXPECT_EQ(single(p, c.format, array, c.type), table(c.type, c.values));
        continue;
      }
      // Every value by its key; an empty dictionary under one null key.
      std::vector<int8_t> keys;
      for (int64_t k = 0; k < c.length; ++k) keys.push_back(static_cast<int8_t>(k));
      std::vector<std::string> values = c.values;
      ArrowArray* indices = nullptr;
      if (keys.empty()) {
        indices = p.array(1, {p.bits({false}), p.buffer<int8_t>({0})}, {}, array, 1);
        values = {"\u2205"};
      } else {
        indices = p.array(c.length, {nullptr, p.buffer(keys)}, {}, array);
      }
      EXPECT_EQ(single(p, "c", indices, c.type, p.field(c.format, "v")), table(c.type, values));
    }
  }
}

// Two float columns, b then a, over three batches of two rows.
struct ThreeBatches {
  Producer p;
  ArrowSchema* root = p.root({p.field("g", "b"), p.field("g", "a")});
  std::vector<ArrowArray*> batches;
  explicit ThreeBatches(std::vector<double> b = {1, 2, 3, 4, 5, 6},
                        std::vector<double> a = {1, 2, 3, 4, 5, 6}) {
    for (size_t i = 0; i < 3; ++i) {
      const auto pair = [&](const std::vector<double>& v) {
        return p.array(2, {nullptr, p.buffer<double>({v[2 * i], v[2 * i + 1]})});
      };
      batches.push_back(p.batch(2, {pair(b), pair(a)}));
    }
  }
};

TEST(ArrowImport, BatchesKeepFieldOrderAndCountRowsAcross) {
  const Columns columns = {
      {"a", ColumnType::int64()}, {"b", ColumnType::int64()}, {"z", ColumnType::binary()}};
  {
    ThreeBatches t;
    auto r = run(t.p, t.p.stream(t.root, t.batches), columns);
    ASSERT_TRUE(r.ok()) << outcome(r);
    EXPECT_EQ(r->header(), "b: int64 | a: int64");
    EXPECT_EQ(r->rows(), 6u);
    EXPECT_EQ(r->render_row(5), "6 | 6");
  }
  // The first failure in row-major order, rows counted over the batches.
  const struct {
    std::vector<double> b, a;
    std::string expected;
  } failures[] = {
      {{1, 2, 3, 4, 5, 6.5}, {1, 2, 3, 4, 5.5, 6}, "column \"a\" row 4: 5.5 is not"},
      {{1, 2, 3, 4, 5.25, 6}, {1, 2, 3, 4, 5.5, 6}, "column \"b\" row 4: 5.25 is not"},
  };
  for (const auto& f : failures) {
    ThreeBatches t(f.b, f.a);
    EXPECT_EQ(outcome(run(t.p, t.p.stream(t.root, t.batches), columns)),
              "table \"t\" " + f.expected + " a whole number");
  }
  ThreeBatches t;
  EXPECT_EQ(outcome(run(t.p, t.p.stream(t.root, t.batches, 2), columns)),
            "table \"t\" could not be read: boom");
  EXPECT_EQ(t.p.handed, 2);
}

TEST(ArrowImport, FieldsMustBeSpecColumnsOnce) {
  const Columns columns = {{"a", ColumnType::int64()}, {"b", ColumnType::int64()}};
  Producer p;
  ArrowSchema* root = p.root({p.field("l", "a"), p.field("l", "x")});
  EXPECT_EQ(outcome(run(p, p.stream(root, {}), columns)),
            "table \"t\" has no column \"x\" in the spec; its columns are \"a\", \"b\"");
  Producer q;
  root = q.root({q.field("l", "a"), q.field("l", "b"), q.field("l", "a")});
  EXPECT_EQ(outcome(run(q, q.stream(root, {}), columns)),
            "table \"t\" could not be read: the column \"a\" appears more than once");
}

// Each producer fault is refused (or, in the schema, fails the open) and
// every struct is still released once.
TEST(ArrowImport, UntrustedStructsAreCheckedBeforeReading) {
  struct Case {
    std::string name;
    std::function<ArrowArrayStream(Producer&)> make;
    std::string expected;  // a prefix of the outcome
  };
  const Columns columns = {{"c", ColumnType::binary()}};
  // One batch holding one column `a` of format `format`.
  const auto one = [](std::string format, std::function<ArrowArray*(Producer&)> column,
                      int64_t rows = 2) {
    return [=](Producer& p) {
      return p.stream(p.root({p.field(format)}), {p.batch(rows, {column(p)})});
    };
  };
  const auto utf8 = [](Producer& p, std::vector<int32_t> offsets, const void* data) {
    return p.array(int64_t(offsets.size()) - 1, {nullptr, p.buffer(offsets), data});
  };
  const auto views = [](Producer& p, std::vector<int32_t> view, std::vector<const void*> extra) {
    std::vector<const void*> buffers = {nullptr, p.buffer(view)};
    buffers.insert(buffers.end(), extra.begin(), extra.end());
    return p.array(1, buffers);
  };
  // A stream of one field of `format`, changed by `edit`.
  const auto edited = [](std::string format, std::function<void(ArrowSchema*)> edit) {
    return [=](Producer& p) {
      ArrowSchema* f = p.field(format);
      edit(f);
      return p.stream(p.root({f}), {});
    };
  };
  const std::string bad = "table \"t\" could not be read: ";
  const std::string col = bad + "column \"c\": ";
  const std::vector<Case> cases = {
      {"schema fails", [](Producer& p) { p.schema_fails = true; return p.stream(p.root({}), {}); },
       "open: boom"},
      {"unknown format", [](Producer& p) { return p.stream(p.root({p.field("q")}), {}); },
       "open: the Arrow format \"q\" is not known"},
      {"null format",
       edited("u", [](ArrowSchema* f) { f->format = nullptr; }),
       "open: a schema node has no format"},
      {"released field",
       edited("u", [](ArrowSchema* f) { f->release = nullptr; }),
       "open: a schema node is released"},
      {"negative children",
       edited("+s", [](ArrowSchema* f) { f->n_children = -1; }),
       "open: field \"c\" has a broken child list"},
      {"missing child list",
       edited("+l", [](ArrowSchema* f) { f->n_children = 1; }),
       "open: field \"c\" has a broken child list"},
      {"list without child", [](Producer& p) { return p.stream(p.root({p.field("+l")}), {}); },
       "open: field \"c\" of format \"+l\" has 0 children, not 1"},
      {"deep nesting",
       [](Producer& p) {
         ArrowSchema* f = p.field("l");
         for (int i = 0; i < 100; ++i) f = p.field("+l", "c", {f});
         return p.stream(p.root({f}), {});
       },
       "open: the schema nests deeper than 64 levels"},
      {"a child listed twice at every level",
       [](Producer& p) {
         ArrowSchema* f = p.field("l");
         for (int i = 0; i < 24; ++i) f = p.field("+s", "c", {f, f});
         return p.stream(p.root({f}), {});
       },
       bad + "the schema has more than 72 fields"},
      {"not a struct", [](Producer& p) { return p.stream(p.field("l"), {}); },
       "open: the stream's schema is Int64, not a struct of columns"},
      {"batch fails", [](Producer& p) { return p.stream(p.root({}), {}, 0); }, bad + "boom"},
      {"batch fails without text",
       [](Producer& p) { p.error_text = nullptr; return p.stream(p.root({}), {}, 0); },
       bad + "the stream failed with error " + std::to_string(EIO) + " (EIO)"},
      {"batch column count",
       [](Producer& p) { return p.stream(p.root({p.field("u")}), {p.batch(0, {})}); },
       bad + "a batch has 0 columns; the schema 1"},
      {"batch buffer count",
       [](Producer& p) {
         ArrowArray* b = p.batch(0, {});
         b->n_buffers = 0;
         return p.stream(p.root({}), {b});
       },
       bad + "the array has 0 buffers; Struct() takes 1"},
      {"negative length", one("u", [](Producer& p) {
        return p.array(-1, {nullptr, nullptr, nullptr});
      }),
       col + "an array has a negative or overflowing length"},
      {"overflowing offset",
       one("u", [](Producer& p) {
         return p.array(2, {nullptr, nullptr, nullptr}, {}, nullptr, 0, INT64_MAX);
       }),
       col + "an array has a negative or overflowing length"},
      {"offset past any buffer",
       one("l", [](Producer& p) {
         return p.array(2, {nullptr, p.buffer<int64_t>({1, 2})}, {}, nullptr, 0, INT64_MAX / 8);
       }),
       col + "an array has a negative or overflowing length"},
      {"null buffer list",
       one("u", [](Producer& p) {
         ArrowArray* a = p.array(2, {nullptr, nullptr, nullptr});
         a->buffers = nullptr;
         return a;
       }),
       col + "an array's buffer or child list is missing"},
      {"wrong buffer count", one("u", [](Producer& p) { return p.array(2, {nullptr, nullptr}); }),
       col + "the array has 2 buffers; Utf8 takes 3"},
      {"child shorter than batch", one("u", [&](Producer& p) {
        return utf8(p, {0, 1}, p.text("a"));
      }),
       col + "an array holds 1 elements; 2 are needed"},
      {"released column",
       one("u", [&](Producer& p) {
         ArrowArray* a = utf8(p, {0, 1, 2}, p.text("ab"));
         a->release = nullptr;
         return a;
       }),
       col + "an array is released"},
      {"missing offsets", one("u", [](Producer& p) {
        return p.array(2, {nullptr, nullptr, nullptr});
      }),
       col + "the offset buffer is missing"},
      {"decreasing offsets", one("u", [&](Producer& p) {
        return utf8(p, {0, 2, 1}, p.text("ab"));
      }),
       col + "the offsets decrease at element 1"},
      {"negative offset", one("u", [&](Producer& p) { return utf8(p, {-4, 0, 1}, p.text("a")); }),
       col + "an offset is negative"},
      {"missing bytes", one("u", [&](Producer& p) { return utf8(p, {0, 1, 2}, nullptr); }),
       col + "the data buffer is missing"},
      {"nulls without bitmap",
       one("l", [](Producer& p) {
         return p.array(2, {nullptr, p.buffer<int64_t>({1, 2})}, {}, nullptr, 1);
       }),
       col + "the array counts 1 nulls but has no validity buffer"},
      {"missing values", one("l", [](Producer& p) { return p.array(2, {nullptr, nullptr}); }),
       col + "the value buffer is missing"},
      {"view length negative",
       one("vu", [&](Producer& p) { return views(p, {-1, 0, 0, 0}, {p.buffer<int64_t>({})}); }, 1),
       col + "view 0 has a negative length"},
      {"view buffer index",
       one("vu", [&](Producer& p) {
         return views(p, {20, 0, 1, 0}, {p.text("a"), p.buffer<int64_t>({1})});
       }, 1),
       col + "view 0 names data buffer 1 of 1"},
      {"view past its buffer",
       one("vu", [&](Producer& p) {
         return views(p, {20, 0, 0, 5}, {p.buffer(std::vector<char>(24)), p.buffer<int64_t>({24})});
       }, 1),
       col + "view 0 reaches past data buffer 0"},
      {"view sizes missing",
       one("vu", [&](Producer& p) { return views(p, {1, 0, 0, 0}, {p.text("a"), nullptr}); }, 1),
       col + "the buffer sizes are missing"},
      {"view data missing",
       one("vu", [&](Producer& p) {
         return views(p, {1, 0, 0, 0}, {nullptr, p.buffer<int64_t>({3})});
       }, 1),
       col + "data buffer 0 is missing"},
      {"view too few buffers", one("vu", [](Producer& p) {
        return p.array(1, {nullptr, nullptr});
      }, 1),
       col + "the array has 2 buffers; Utf8View takes at least 3"},
      {"dictionary missing",
       [](Producer& p) {
         ArrowSchema* f = p.field("i", "c", {}, p.field("u", "v"));
         ArrowArray* keys = p.array(1, {nullptr, p.buffer<int32_t>({0})});
         return p.stream(p.root({f}), {p.batch(1, {keys})});
       },
       col + "the dictionary: an array is missing"},
      {"dictionary broken",
       [](Producer& p) {
         ArrowSchema* f = p.field("i", "c", {}, p.field("u", "v"));
         ArrowArray* values = p.array(1, {nullptr, p.buffer<int32_t>({3, 0}), nullptr});
         ArrowArray* keys = p.array(1, {nullptr, p.buffer<int32_t>({0})}, {}, values);
         return p.stream(p.root({f}), {p.batch(1, {keys})});
       },
       col + "the dictionary: the offsets decrease at element 0"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Producer p;
    const std::string got = outcome(run(p, c.make(p), columns));
    EXPECT_EQ(got.substr(0, c.expected.size()), c.expected) << got;
  }
}

// A failure without text of its own names its code, and the code's symbol
// when it is a known errno value: the same words in every locale.
TEST(ArrowImport, FailureCodesReadTheSameEverywhere) {
  const struct {
    int code;
    std::string expected;
  } cases[] = {
      {EINVAL, "(EINVAL)"},
      {ENOMEM, "(ENOMEM)"},
      {ENOSYS, "(ENOSYS)"},
      {-3, ""},
      {4242, ""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.code);
    Producer p;
    p.error_text = nullptr;
    p.error_code = c.code;
    const std::string text = "the stream failed with error " + std::to_string(c.code) +
                             (c.expected.empty() ? "" : " ") + c.expected;
    EXPECT_EQ(outcome(run(p, p.stream(p.root({}), {}, 0), Columns{})),
              "table \"t\" could not be read: " + text);
    Producer unopened;
    unopened.error_text = nullptr;
    unopened.error_code = c.code;
    unopened.schema_fails = true;
    EXPECT_EQ(outcome(run(unopened, unopened.stream(unopened.root({}), {}), Columns{})),
              "open: " + text);
  }
}

TEST(ArrowImport, ReleasedOrIncompleteStreamsAreNotOpened) {
  ArrowArrayStream none{};
  EXPECT_EQ(import_table(&none, "t", Columns{}).error().kind, ImportError::Kind::Open);
  Producer p;
  ArrowArrayStream s = p.stream(p.root({}), {});
  s.get_next = nullptr;
  auto r = import_table(&s, "t", Columns{});
  EXPECT_EQ(outcome(r), "open: the Arrow stream lacks its callbacks");
  EXPECT_EQ(p.stream_releases, 1);
}

}  // namespace
}  // namespace zarvi_core::arrow
