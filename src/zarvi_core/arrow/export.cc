#include "zarvi_core/arrow/export.h"

#include <cerrno>
#include <cstring>
#include <memory>
#include <new>
#include <optional>
#include <string_view>
#include <utility>
#include <vector>

#include "zarvi_core/text.h"

namespace zarvi_core::arrow {

using column::ColumnView;
using column::ColumnType;
using column::table::Table;

std::string to_string(const ExportError& error) {
  switch (error.kind) {
    case ExportError::Kind::Gone:
      return "table #" + std::to_string(error.table) + " is gone";
    case ExportError::Kind::Arrow:
      break;
  }
  return "table " + quote_bytes(error.name) + " could not be exported to Arrow: " + error.detail;
}

Result<std::string, std::string> format_of(const ColumnType& type) {
  switch (type.kind) {
    case ColumnType::Kind::Binary:
      return std::string("z");
    case ColumnType::Kind::Int64:
      return std::string("l");
    case ColumnType::Kind::Decimal128:
      // Arrow keeps the scale in a signed byte and the precision in 1 to 38.
      if (type.scale > 127) {
        return err("decimal scale " + std::to_string(type.scale) +
                   " does not fit Arrow's i8 scale");
      }
      if (type.precision < 1 || type.precision > 38) {
        return err("decimal precision " + std::to_string(type.precision) +
                   " is out of range [1, 38]");
      }
      return "d:" + std::to_string(type.precision) + "," + std::to_string(type.scale);
    case ColumnType::Kind::Date32:
      return std::string("tdD");
    case ColumnType::Kind::Time32:
      break;
  }
  return std::string("tts");
}

namespace {

void append_int32(std::string& out, int32_t v) {
  char bytes[sizeof v];
  std::memcpy(bytes, &v, sizeof v);  // native byte order, as the interface wants
  out.append(bytes, sizeof v);
}

void append_sized(std::string& out, std::string_view text) {
  append_int32(out, static_cast<int32_t>(text.size()));
  out.append(text);
}

}  // namespace

std::string metadata_of(const ColumnType& type) {
  if (type.kind != ColumnType::Kind::Int64 || type.scale == 0) return {};
  std::string out;
  append_int32(out, 1);
  append_sized(out, "scale");
  append_sized(out, std::to_string(type.scale));
  return out;
}

namespace {

// Why a column's storage does not describe `rows` rows of Arrow data; none
// when it does. The core builds columns this way, so this only guards
// against a column that was left inconsistent.
std::optional<std::string> check_storage(const std::string& name, const ColumnView& data,
                                         size_t rows) {
  const std::string column = "column " + quote_bytes(name);
  if (data.rows() != rows) {
    return column + " holds " + std::to_string(data.rows()) + " rows; the table has " +
           std::to_string(rows);
  }
  if (data.validity().size() < (rows + 7) / 8) return column + " has a short validity bitmap";
  size_t values = 0;
  switch (data.type().kind) {
    case ColumnType::Kind::Binary: {
      const auto offsets = data.offsets();
      if (offsets.size() != rows + 1 || offsets[0] != 0) {
        return column + " has offsets that do not start at 0 with one per row";
      }
      // Appends only ever add to the end, so offsets rise by construction;
      // checking the ends keeps an export's cost independent of the rows.
      if (static_cast<uint64_t>(offsets[rows]) > data.bytes().size()) {
        return column + " has offsets past its bytes";
      }
      return std::nullopt;
    }
    case ColumnType::Kind::Int64:
      values = data.int64_values().size();
      break;
    case ColumnType::Kind::Decimal128:
      values = data.decimal128_values().size();
      break;
    case ColumnType::Kind::Date32:
    case ColumnType::Kind::Time32:
      values = data.int32_values().size();
      break;
  }
  if (values < rows) return column + " holds fewer values than rows";
  return std::nullopt;
}

// Everything an export needs to know of one column, worked out before any
// C struct is touched.
struct ColumnPlan {
  std::string format;
  std::string metadata;
};

Result<const Table*, ExportError> find(const SharedTables& tables, size_t index) {
  if (!tables || index >= tables->size()) {
    return err(ExportError{ExportError::Kind::Gone, index, {}, {}});
  }
  return &(*tables)[index];
}

Result<std::vector<ColumnPlan>, ExportError> plan(const Table& table, size_t index) {
  std::vector<ColumnPlan> plans;
  plans.reserve(table.columns().size());
  for (const column::table::ColumnRef c : table.columns()) {
    auto format = format_of(c.data.type());
    std::optional<std::string> bad;
    if (c.name.find('\0') != std::string::npos) {
      // A field name crosses as a C string: cut at the NUL, it would name
      // another column or none.
      bad = "column " + quote_bytes(c.name) +
            " has a name holding a NUL byte, which an Arrow field name cannot hold";
    } else if (!format.ok()) {
      bad = std::move(format.error());
    } else {
      bad = check_storage(c.name, c.data, table.rows());
    }
    if (bad) return err(ExportError{ExportError::Kind::Arrow, index, table.name(), *bad});
    plans.push_back({std::move(format.value()), metadata_of(c.data.type())});
  }
  return plans;
}

// ---- schemas ----

// The private data of one exported schema node: its strings and the storage
// of its children's structs.
struct SchemaKeep {
  std::string format;
  std::string name;
  std::string metadata;
  std::vector<ArrowSchema> children;
  std::vector<ArrowSchema*> child_pointers;
};

// Releases the children a consumer has not moved out, then the node's own
// private data. Needs no lock: the data is immutable and shared atomically.
template <class Node, class Keep>
void release_node(Node* node) {
  if (node == nullptr || node->release == nullptr) return;
  for (int64_t i = 0; i < node->n_children; ++i) {
    Node* child = node->children[i];
    if (child->release != nullptr) child->release(child);  // null: moved out
  }
  delete static_cast<Keep*>(node->private_data);
  node->release = nullptr;
}

void release_schema(ArrowSchema* schema) { release_node<ArrowSchema, SchemaKeep>(schema); }

void fill_schema(ArrowSchema* out, std::unique_ptr<SchemaKeep> keep, int64_t flags) noexcept {
  SchemaKeep* k = keep.release();
  *out = ArrowSchema{};
  out->format = k->format.c_str();
  out->name = k->name.c_str();
  out->metadata = k->metadata.empty() ? nullptr : k->metadata.data();
  out->flags = flags;
  out->n_children = static_cast<int64_t>(k->children.size());
  out->children = k->children.empty() ? nullptr : k->child_pointers.data();
  out->dictionary = nullptr;
  out->release = release_schema;
  out->private_data = k;
}

// Builds every node's private data (the part that can fail), then fills the
// structs (the part that cannot).
void schema_into(const Table& table, std::vector<ColumnPlan> plans, ArrowSchema* out) {
  auto root = std::make_unique<SchemaKeep>();
  root->format = "+s";
  const size_t n = plans.size();
  root->children.resize(n);
  root->child_pointers.resize(n);
  std::vector<std::unique_ptr<SchemaKeep>> fields;
  fields.reserve(n);
  for (size_t i = 0; i < n; ++i) {
    auto field = std::make_unique<SchemaKeep>();
    field->format = std::move(plans[i].format);
    field->name = table.columns()[i].name;
    field->metadata = std::move(plans[i].metadata);
    fields.push_back(std::move(field));
  }
  for (size_t i = 0; i < n; ++i) {
    root->child_pointers[i] = &root->children[i];
    fill_schema(&root->children[i], std::move(fields[i]), ARROW_FLAG_NULLABLE);
  }
  fill_schema(out, std::move(root), 0);
}

// ---- arrays ----

// The private data of one exported array node: the shared tables that own
// its buffers, the buffer pointers, and the storage of its children.
struct ArrayKeep {
  SharedTables tables;
  const void* buffers[3] = {nullptr, nullptr, nullptr};
  std::vector<ArrowArray> children;
  std::vector<ArrowArray*> child_pointers;
};

void release_array(ArrowArray* array) { release_node<ArrowArray, ArrayKeep>(array); }

void fill_array(ArrowArray* out, std::unique_ptr<ArrayKeep> keep, int64_t length,
                int64_t null_count, int64_t n_buffers) noexcept {
  ArrayKeep* k = keep.release();
  *out = ArrowArray{};
  out->length = length;
  out->null_count = null_count;
  out->offset = 0;
  out->n_buffers = n_buffers;
  out->n_children = static_cast<int64_t>(k->children.size());
  out->buffers = k->buffers;
  out->children = k->children.empty() ? nullptr : k->child_pointers.data();
  out->dictionary = nullptr;
  out->release = release_array;
  out->private_data = k;
}

// The column's buffers in Arrow order; validity only when a row is null.
int64_t column_buffers(const ColumnView& data, const void* (&buffers)[3]) {
  buffers[0] = data.null_count() == 0 ? nullptr : data.validity().data();
  switch (data.type().kind) {
    case ColumnType::Kind::Binary:
      buffers[1] = data.offsets().data();
      buffers[2] = data.bytes().data();
      return 3;
    case ColumnType::Kind::Int64:
      buffers[1] = data.int64_values().data();
      break;
    case ColumnType::Kind::Decimal128:
      buffers[1] = data.decimal128_values().data();
      break;
    case ColumnType::Kind::Date32:
    case ColumnType::Kind::Time32:
      buffers[1] = data.int32_values().data();
      break;
  }
  return 2;
}

void array_into(const SharedTables& tables, const Table& table, ArrowArray* out) {
  const size_t n = table.columns().size();
  auto root = std::make_unique<ArrayKeep>();
  root->tables = tables;
  root->children.resize(n);
  root->child_pointers.resize(n);
  std::vector<std::unique_ptr<ArrayKeep>> columns;
  columns.reserve(n);
  for (size_t i = 0; i < n; ++i) {
    auto keep = std::make_unique<ArrayKeep>();
    keep->tables = tables;
    columns.push_back(std::move(keep));
  }
  const auto rows = static_cast<int64_t>(table.rows());
  for (size_t i = 0; i < n; ++i) {
    const ColumnView data = table.columns()[i].data;
    const int64_t n_buffers = column_buffers(data, columns[i]->buffers);
    root->child_pointers[i] = &root->children[i];
    fill_array(&root->children[i], std::move(columns[i]), rows,
               static_cast<int64_t>(data.null_count()), n_buffers);
  }
  fill_array(out, std::move(root), rows, 0, 1);  // a struct without a validity bitmap
}

// ---- stream ----

struct StreamKeep {
  SharedTables tables;
  size_t index = 0;
  bool done = false;
  std::string last_error;
};

int stream_failure(ArrowArrayStream* stream, const char* what) noexcept {
  try {
    static_cast<StreamKeep*>(stream->private_data)->last_error = what;
  } catch (...) {
  }
  return ENOMEM;
}

// The stream callbacks are called from C: no exception may leave them.
int stream_get_schema(ArrowArrayStream* stream, ArrowSchema* out) noexcept {
  auto* keep = static_cast<StreamKeep*>(stream->private_data);
  try {
    auto made = export_schema(keep->tables, keep->index, out);
    if (!made.ok()) {
      keep->last_error = to_string(made.error());
      return EINVAL;
    }
    return 0;
  } catch (const std::exception& e) {
    return stream_failure(stream, e.what());
  } catch (...) {
    return stream_failure(stream, "unknown exception");
  }
}

int stream_get_next(ArrowArrayStream* stream, ArrowArray* out) noexcept {
  auto* keep = static_cast<StreamKeep*>(stream->private_data);
  if (keep->done) {
    *out = ArrowArray{};  // release == null marks the end of the stream
    return 0;
  }
  try {
    const auto table = find(keep->tables, keep->index);
    if (!table.ok()) {
      keep->last_error = to_string(table.error());
      return EINVAL;
    }
    array_into(keep->tables, *table.value(), out);
    keep->done = true;
    return 0;
  } catch (const std::exception& e) {
    return stream_failure(stream, e.what());
  } catch (...) {
    return stream_failure(stream, "unknown exception");
  }
}

const char* stream_last_error(ArrowArrayStream* stream) noexcept {
  const auto* keep = static_cast<const StreamKeep*>(stream->private_data);
  return keep->last_error.empty() ? nullptr : keep->last_error.c_str();
}

void release_stream(ArrowArrayStream* stream) noexcept {
  if (stream == nullptr || stream->release == nullptr) return;
  delete static_cast<StreamKeep*>(stream->private_data);
  stream->release = nullptr;
}

}  // namespace

Result<Unit, ExportError> export_schema(const SharedTables& tables, size_t index,
                                        ArrowSchema* out) {
  auto table = find(tables, index);
  if (!table.ok()) return err(std::move(table.error()));
  auto plans = plan(*table.value(), index);
  if (!plans.ok()) return err(std::move(plans.error()));
  schema_into(*table.value(), std::move(plans.value()), out);
  return Unit{};
}

Result<Unit, ExportError> export_array(const SharedTables& tables, size_t index,
                                       ArrowArray* out_array, ArrowSchema* out_schema) {
  auto table = find(tables, index);
  if (!table.ok()) return err(std::move(table.error()));
  auto plans = plan(*table.value(), index);
  if (!plans.ok()) return err(std::move(plans.error()));
  ArrowSchema schema;
  schema_into(*table.value(), std::move(plans.value()), &schema);
  try {
    array_into(tables, *table.value(), out_array);
  } catch (...) {
    release_schema(&schema);
    throw;
  }
  *out_schema = schema;
  return Unit{};
}

Result<Unit, ExportError> export_stream(const SharedTables& tables, size_t index,
                                        ArrowArrayStream* out) {
  auto table = find(tables, index);
  if (!table.ok()) return err(std::move(table.error()));
  auto plans = plan(*table.value(), index);
  if (!plans.ok()) return err(std::move(plans.error()));
  auto keep = std::make_unique<StreamKeep>();
  keep->tables = tables;
  keep->index = index;
  *out = ArrowArrayStream{};
  out->get_schema = stream_get_schema;
  out->get_next = stream_get_next;
  out->get_last_error = stream_last_error;
  out->release = release_stream;
  out->private_data = keep.release();
  return Unit{};
}

}  // namespace zarvi_core::arrow
