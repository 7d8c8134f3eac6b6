#include "zarvi_core/arrow/export.h"

#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <string>
#include <vector>

namespace zarvi_core::arrow {
namespace {

using column::Cell;
using column::ColumnType;
using column::SharedTables;
using column::Table;
using column::Tables;

// claims: 3 rows of every column type, one null in "status"; empty: 0 rows.
SharedTables sample() {
  Table claims("claims", {{"id", ColumnType::binary()},
                          {"status", ColumnType::binary()},
                          {"count", ColumnType::int64()},
                          {"amount", ColumnType::int64(2)},
                          {"paid", ColumnType::decimal128(38, 2)},
                          {"date", ColumnType::date32()},
                          {"time", ColumnType::time32()}});
  for (int i = 0; i < 3; ++i) {
    const Cell status = i == 1 ? Cell::null() : Cell::binary("1");
    const std::vector<Cell> row = {Cell::binary(i == 0 ? "A" : "BC"), status,
                                   Cell::int64(i),  Cell::int64(1050 + i),
                                   Cell::decimal128(-5 + i), Cell::date32(19000 + i),
                                   Cell::time32(3600 * i)};
    EXPECT_TRUE(claims.push_row(row).ok());
  }
  Table empty("empty", {{"row", ColumnType::int64()}});
  std::vector<Table> tables;
  tables.push_back(std::move(claims));
  tables.push_back(std::move(empty));
  return column::freeze(Tables(std::move(tables)));
}

// The binary metadata encoding: int32 count, then sized keys and values.
std::string encoded(std::initializer_list<std::pair<std::string, std::string>> pairs) {
  std::string out;
  auto put = [&](int32_t v) { out.append(reinterpret_cast<const char*>(&v), sizeof v); };
  put(static_cast<int32_t>(pairs.size()));
  for (const auto& [k, v] : pairs) {
    put(static_cast<int32_t>(k.size()));
    out += k;
    put(static_cast<int32_t>(v.size()));
    out += v;
  }
  return out;
}

std::string metadata_bytes(const ArrowSchema& s) {
  if (s.metadata == nullptr) return {};
  int32_t n = 0;
  std::memcpy(&n, s.metadata, sizeof n);
  const char* p = s.metadata + sizeof n;
  for (int32_t i = 0; i < 2 * n; ++i) {
    int32_t len = 0;
    std::memcpy(&len, p, sizeof len);
    p += sizeof len + len;
  }
  return std::string(s.metadata, static_cast<size_t>(p - s.metadata));
}

TEST(ArrowExport, SchemaFieldsByColumnType) {
  const SharedTables tables = sample();
  ArrowSchema schema;
  ASSERT_TRUE(export_schema(tables, 0, &schema).ok());
  EXPECT_STREQ(schema.format, "+s");
  EXPECT_EQ(schema.flags, 0);
  EXPECT_EQ(schema.metadata, nullptr);
  ASSERT_EQ(schema.n_children, 7);
  struct Case {
    const char* name;
    const char* format;
    std::string metadata;
  };
  const Case cases[] = {
      {"id", "z", ""},
      {"status", "z", ""},
      {"count", "l", ""},
      {"amount", "l", encoded({{"scale", "2"}})},
      {"paid", "d:38,2", ""},
      {"date", "tdD", ""},
      {"time", "tts", ""},
  };
  for (int64_t i = 0; i < schema.n_children; ++i) {
    const Case& c = cases[i];
    SCOPED_TRACE(c.name);
    const ArrowSchema& field = *schema.children[i];
    EXPECT_STREQ(field.name, c.name);
    EXPECT_STREQ(field.format, c.format);
    EXPECT_EQ(field.flags, ARROW_FLAG_NULLABLE);
    EXPECT_EQ(field.n_children, 0);
    EXPECT_EQ(metadata_bytes(field), c.metadata);
  }
  schema.release(&schema);
  EXPECT_EQ(schema.release, nullptr);
}

TEST(ArrowExport, ArrayBuffersAreTheColumnsOwn) {
  const SharedTables tables = sample();
  ArrowArray array;
  ArrowSchema schema;
  ASSERT_TRUE(export_array(tables, 0, &array, &schema).ok());
  EXPECT_EQ(array.length, 3);
  EXPECT_EQ(array.n_buffers, 1);
  EXPECT_EQ(array.buffers[0], nullptr);
  ASSERT_EQ(array.n_children, 7);
  const Table& claims = (*tables)[0];
  for (int64_t i = 0; i < array.n_children; ++i) {
    const auto& data = claims.columns()[i].data;
    const ArrowArray& child = *array.children[i];
    SCOPED_TRACE(claims.columns()[i].name);
    EXPECT_EQ(child.length, 3);
    EXPECT_EQ(child.offset, 0);
    EXPECT_EQ(child.null_count, static_cast<int64_t>(data.null_count()));
    // A validity bitmap only where a row is null.
    EXPECT_EQ(child.buffers[0], data.null_count() == 0 ? nullptr : data.validity().data());
    if (data.type().kind == ColumnType::Kind::Binary) {
      ASSERT_EQ(child.n_buffers, 3);
      EXPECT_EQ(child.buffers[1], data.offsets().data());
      EXPECT_EQ(child.buffers[2], data.bytes().data());
    } else {
      ASSERT_EQ(child.n_buffers, 2);
      EXPECT_NE(child.buffers[1], nullptr);
    }
  }
  EXPECT_EQ(array.children[2]->buffers[1], claims.columns()[2].data.int64_values().data());
  EXPECT_EQ(array.children[4]->buffers[1], claims.columns()[4].data.decimal128_values().data());
  EXPECT_EQ(array.children[5]->buffers[1], claims.columns()[5].data.int32_values().data());
  array.release(&array);
  schema.release(&schema);
}

TEST(ArrowExport, MovedOutChildOutlivesRootAndTables) {
  SharedTables tables = sample();
  const std::weak_ptr<const Tables> watch = tables;
  const void* bytes = (*tables)[0].columns()[0].data.bytes().data();
  ArrowArray array;
  ArrowSchema schema;
  ASSERT_TRUE(export_array(tables, 0, &array, &schema).ok());

  // A consumer takes child 0 over, as the interface allows.
  ArrowArray child = *array.children[0];
  array.children[0]->release = nullptr;
  ArrowSchema field = *schema.children[0];
  schema.children[0]->release = nullptr;

  array.release(&array);
  schema.release(&schema);
  tables.reset();
  ASSERT_FALSE(watch.expired());
  EXPECT_EQ(child.buffers[2], bytes);
  EXPECT_EQ(std::memcmp(child.buffers[2], "ABCBC", 5), 0);
  EXPECT_STREQ(field.name, "id");

  child.release(&child);
  EXPECT_TRUE(watch.expired());
  field.release(&field);
}

TEST(ArrowExport, EmptyTable) {
  const SharedTables tables = sample();
  ArrowArray array;
  ArrowSchema schema;
  ASSERT_TRUE(export_array(tables, 1, &array, &schema).ok());
  EXPECT_EQ(array.length, 0);
  ASSERT_EQ(array.n_children, 1);
  EXPECT_EQ(array.children[0]->length, 0);
  EXPECT_EQ(array.children[0]->buffers[0], nullptr);
  EXPECT_NE(array.children[0]->buffers[1], nullptr);
  array.release(&array);
  schema.release(&schema);
}

TEST(ArrowExport, TableWithoutColumnsKeepsItsRowCount) {
  Table bare("bare", {});
  ASSERT_TRUE(bare.push_row({}).ok());
  ASSERT_TRUE(bare.push_row({}).ok());
  std::vector<Table> list;
  list.push_back(std::move(bare));
  const SharedTables tables = column::freeze(Tables(std::move(list)));
  ArrowArray array;
  ArrowSchema schema;
  ASSERT_TRUE(export_array(tables, 0, &array, &schema).ok());
  EXPECT_EQ(array.length, 2);
  EXPECT_EQ(array.n_children, 0);
  EXPECT_EQ(schema.n_children, 0);
  array.release(&array);
  schema.release(&schema);
}

TEST(ArrowExport, StreamYieldsOneBatchThenEnds) {
  SharedTables tables = sample();
  const std::weak_ptr<const Tables> watch = tables;
  ArrowArrayStream stream;
  for (size_t index : {0u, 1u}) {
    SCOPED_TRACE(index);
    ASSERT_TRUE(export_stream(tables, index, &stream).ok());
    ArrowSchema schema;
    ASSERT_EQ(stream.get_schema(&stream, &schema), 0);
    EXPECT_EQ(schema.n_children, index == 0 ? 7 : 1);
    schema.release(&schema);
    ArrowArray batch;
    ASSERT_EQ(stream.get_next(&stream, &batch), 0);
    ASSERT_NE(batch.release, nullptr);  // a 0-row table still yields one batch
    EXPECT_EQ(batch.length, index == 0 ? 3 : 0);
    ArrowArray end;
    ASSERT_EQ(stream.get_next(&stream, &end), 0);
    EXPECT_EQ(end.release, nullptr);
    EXPECT_EQ(stream.get_last_error(&stream), nullptr);
    // The batch may outlive its stream.
    stream.release(&stream);
    EXPECT_EQ(stream.release, nullptr);
    batch.release(&batch);
  }
  tables.reset();
  EXPECT_TRUE(watch.expired());
}

TEST(ArrowExport, Errors) {
  Table wide("wide", {{"ok", ColumnType::int64()}, {"bad", ColumnType::decimal128(38, 128)}});
  std::vector<Table> list;
  list.push_back(std::move(wide));
  const SharedTables tables = column::freeze(Tables(std::move(list)));
  struct Case {
    const char* name;
    size_t index;
    std::string message;
  };
  const Case cases[] = {
      {"index past the end", 1, "table #1 is gone"},
      {"decimal scale", 0,
       "table \"wide\" could not be exported to Arrow: decimal scale 128 does not fit Arrow's "
       "i8 scale"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ArrowSchema schema{};
    ArrowArray array{};
    ArrowArrayStream stream{};
    const auto s = export_schema(tables, c.index, &schema);
    const auto a = export_array(tables, c.index, &array, &schema);
    const auto st = export_stream(tables, c.index, &stream);
    ASSERT_FALSE(s.ok());
    ASSERT_FALSE(a.ok());
    ASSERT_FALSE(st.ok());
    EXPECT_EQ(to_string(s.error()), c.message);
    EXPECT_EQ(to_string(a.error()), c.message);
    EXPECT_EQ(to_string(st.error()), c.message);
    EXPECT_EQ(schema.release, nullptr);  // nothing was handed out
    EXPECT_EQ(array.release, nullptr);
    EXPECT_EQ(stream.release, nullptr);
  }
}

}  // namespace
}  // namespace zarvi_core::arrow
