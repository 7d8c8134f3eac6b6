#include "zarvi_py/arrow.h"

#include <memory>
#include <new>
#include <optional>
#include <string>
#include <utility>

#include "zarvi_core/arrow/export.h"
#include "zarvi_py/args.h"

namespace zarvi_py {
namespace {

namespace arrow = zarvi_core::arrow;

constexpr const char* kSchemaName = "arrow_schema";
constexpr const char* kArrayName = "arrow_array";
constexpr const char* kStreamName = "arrow_array_stream";

// Deletes a heap-held C struct, releasing it first unless a consumer took it
// over (release set to null).
template <class T>
struct Drop {
  void operator()(T* p) const noexcept {
    if (p->release != nullptr) p->release(p);
    delete p;
  }
};
template <class T>
using Owned = std::unique_ptr<T, Drop<T>>;

template <class T>
Owned<T> blank() {
  T* p = new T{};
  p->release = nullptr;
  return Owned<T>(p);
}

// The capsule's destructor. It may run while an exception propagates, and a
// consumer may have renamed the capsule to mark it used: the struct is ours
// whatever the name, and the error indicator is left as it was.
template <class T>
void drop_capsule(PyObject* capsule) noexcept {
  SavedError saved;
  // A capsule whose struct was moved out still holds the (released) struct.
  if (auto* p = static_cast<T*>(PyCapsule_GetPointer(capsule, PyCapsule_GetName(capsule)))) {
    Drop<T>()(p);
  }
}

void drop_schema(PyObject* capsule) noexcept { drop_capsule<ArrowSchema>(capsule); }
void drop_array(PyObject* capsule) noexcept { drop_capsule<ArrowArray>(capsule); }
void drop_stream(PyObject* capsule) noexcept { drop_capsule<ArrowArrayStream>(capsule); }

// A capsule that takes over *owned once made.
template <class T>
Ref capsule(Owned<T>& owned, const char* name, PyCapsule_Destructor destructor) {
  Ref made = Ref::steal(PyCapsule_New(owned.get(), name, destructor));
  if (made) owned.release();
  return made;
}

Ref raise(const arrow::ExportError& error) {
  const std::string message = arrow::to_string(error);
  Ref text = str_from(message);
  if (text) PyErr_SetObject(PyExc_RuntimeError, text.get());
  return Ref();
}

}  // namespace

Ref schema_capsule(const zarvi_core::column::table::SharedTables& tables, size_t index) {
  auto schema = blank<ArrowSchema>();
  auto made = arrow::export_schema(tables, index, schema.get());
  if (!made.ok()) return raise(made.error());
  return capsule(schema, kSchemaName, drop_schema);
}

Ref array_capsules(const zarvi_core::column::table::SharedTables& tables, size_t index) {
  auto schema = blank<ArrowSchema>();
  auto array = blank<ArrowArray>();
  std::optional<arrow::ExportError> failed;
  try {
    AllowThreads unlocked;
    auto made = arrow::export_array(tables, index, array.get(), schema.get());
    if (!made.ok()) failed = std::move(made.error());
  } catch (const std::bad_alloc&) {
    return no_memory("build the " + (*tables)[index].name() + " table for Arrow");
  }
  if (failed) return raise(*failed);
  Ref schema_object = capsule(schema, kSchemaName, drop_schema);
  if (!schema_object) return Ref();
  Ref array_object = capsule(array, kArrayName, drop_array);
  if (!array_object) return Ref();
  return Ref::steal(PyTuple_Pack(2, schema_object.get(), array_object.get()));
}

Ref stream_capsule(const zarvi_core::column::table::SharedTables& tables, size_t index) {
  auto stream = blank<ArrowArrayStream>();
  std::optional<arrow::ExportError> failed;
  try {
    AllowThreads unlocked;
    auto made = arrow::export_stream(tables, index, stream.get());
    if (!made.ok()) failed = std::move(made.error());
  } catch (const std::bad_alloc&) {
    return no_memory("build the " + (*tables)[index].name() + " table for Arrow");
  }
  if (failed) return raise(*failed);
  return capsule(stream, kStreamName, drop_stream);
}

}  // namespace zarvi_py
