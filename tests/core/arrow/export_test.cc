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
using column::table::SharedTables;
using column::table::Table;
using column::table::Tables;

template <class... T>
SharedTables frozen(T&&... table) {
  std::vector<Table> list;
  (list.push_back(std::move(table)), ...);
  return column::table::freeze(Tables(std::move(list)));
}

// claims: 3 rows of every column type, one null in "status"; empty: 0 rows;
// none: 2 rows and no columns.
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
  Table none("none", {});
  EXPECT_TRUE(none.push_row({}).ok() && none.push_row({}).ok());
  return frozen(std::move(claims), Table("empty", {{"row", ColumnType::int64()}}), std::move(none));
}

TEST(ArrowExport, SchemaFieldsByColumnType) {
  const SharedTables tables = sample();
  ArrowSchema schema;
  ASSERT_TRUE(export_schema(tables, 0, &schema).ok());
  EXPECT_STREQ(schema.format, "+s");
  EXPECT_EQ(schema.metadata, nullptr);
  ASSERT_EQ(schema.n_children, 7);
  const char* const formats[] = {"z", "z", "l", "l", "d:38,2", "tdD", "tts"};
  for (int64_t i = 0; i < schema.n_children; ++i) {
    const ArrowSchema& field = *schema.children[i];
    SCOPED_TRACE(field.name);
    EXPECT_STREQ(field.format, formats[i]);
    EXPECT_EQ(field.flags, ARROW_FLAG_NULLABLE);
    EXPECT_EQ(field.n_children, 0);
    // Only the scaled int64 carries metadata: {"scale": "2"} in the binary encoding.
    EXPECT_EQ(field.metadata == nullptr, i != 3);
  }
  const char scale[] = "\1\0\0\0\5\0\0\0scale\1\0\0\0" "2";
  EXPECT_EQ(std::string_view(schema.children[3]->metadata, sizeof scale - 1),
            std::string_view(scale, sizeof scale - 1));
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

TEST(ArrowExport, StreamYieldsOneBatchThenEnds) {
  SharedTables tables = sample();
  const std::weak_ptr<const Tables> watch = tables;
  ArrowArrayStream stream;
  const int64_t children[] = {7, 1, 0}, lengths[] = {3, 0, 2};  // a table without columns keeps its rows
  for (size_t index : {0u, 1u, 2u}) {
    SCOPED_TRACE(index);
    ASSERT_TRUE(export_stream(tables, index, &stream).ok());
    ArrowSchema schema;
    ASSERT_EQ(stream.get_schema(&stream, &schema), 0);
    EXPECT_EQ(schema.n_children, children[index]);
    schema.release(&schema);
    ArrowArray batch;
    ASSERT_EQ(stream.get_next(&stream, &batch), 0);
    ASSERT_NE(batch.release, nullptr);  // a 0-row table still yields one batch
    EXPECT_EQ(batch.length, lengths[index]);
    EXPECT_EQ(batch.n_children, children[index]);
    if (index == 1) {  // an empty column still has its data buffer
      EXPECT_EQ(batch.children[0]->buffers[0], nullptr);
      EXPECT_NE(batch.children[0]->buffers[1], nullptr);
    }
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
  using namespace std::string_literals;
  const SharedTables tables =
      frozen(Table("wide", {{"ok", ColumnType::int64()}, {"bad", ColumnType::decimal128(38, 128)}}),
             Table("nul", {{"name"s, ColumnType::binary()}, {"name\0a"s, ColumnType::binary()}}));
  const struct {
    size_t index;
    std::string message;
  } cases[] = {
      {2, "table #2 is gone"},
      // A field name is a C string: cut at the NUL it would read "name" twice.
      {0, "table \"nul\" could not be exported to Arrow: column \"name\\0a\" has a name holding a "
          "NUL byte, which an Arrow field name cannot hold"},
      {1, "table \"wide\" could not be exported to Arrow: decimal scale 128 does not fit Arrow's i8 scale"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.message);
    ArrowSchema schema{};
    ArrowArray array{};
    ArrowArrayStream stream{};
    for (const auto& r : {export_schema(tables, c.index, &schema), export_array(tables, c.index, &array, &schema),
                          export_stream(tables, c.index, &stream)}) {
      ASSERT_FALSE(r.ok());
      EXPECT_EQ(to_string(r.error()), c.message);
    }
    EXPECT_EQ(schema.release, nullptr);  // nothing was handed out
    EXPECT_EQ(array.release, nullptr);
    EXPECT_EQ(stream.release, nullptr);
  }
}

}  // namespace
}  // namespace zarvi_core::arrow
