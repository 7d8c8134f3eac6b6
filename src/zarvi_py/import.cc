#include "zarvi_py/import.h"

#include <memory>
#include <new>
#include <string_view>
#include <utility>
#include <vector>

#include "zarvi_core/arrow/import.h"
#include "zarvi_core/project/plan.h"
#include "zarvi_core/text.h"
#include "zarvi_py/args.h"
#include "zarvi_py/tables.h"

namespace zarvi_py {
namespace {

using zarvi_core::quote_bytes;
using zarvi_core::column::table::Table;

constexpr const char* kStreamName = "arrow_array_stream";

std::string spec_table_names(const zarvi_core::spec::Spec& spec) {
  std::string out;
  for (const auto& t : spec.tables) {
    if (!out.empty()) out += ", ";
    zarvi_core::append_quoted(out, t.name);
  }
  return out;
}

// TypeError with `format` holding the name of the object's type; null.
Ref type_error(const char* format, PyObject* object) {
  Ref type_name = Ref::steal(PyType_GetName(Py_TYPE(object)));
  if (type_name) PyErr_Format(PyExc_TypeError, format, type_name.get());
  return Ref();
}

Ref import_pyarrow() {
  return calling([] { return import_optional("zarvi", "write", "pyarrow", "pandas"); });
}

// The value's Arrow stream capsule: its own, or pyarrow's table of it.
Ref stream_capsule_of(PyObject* value) {
  // Only an AttributeError says the method is absent; any other failure of
  // the lookup (an interruption among them) is raised as it is.
  Ref method = Ref::steal(
      calling([&] { return PyObject_GetAttrString(value, "__arrow_c_stream__"); }));
  if (!method) {
    if (!PyErr_ExceptionMatches(PyExc_AttributeError)) return Ref();
    PyErr_Clear();
    Ref pyarrow = import_pyarrow();
    if (!pyarrow) return Ref();
    Ref table = Ref::steal(
        calling([&] { return PyObject_CallMethod(pyarrow.get(), "table", "O", value); }));
    if (!table) return Ref();
    method = Ref::steal(
        calling([&] { return PyObject_GetAttrString(table.get(), "__arrow_c_stream__"); }));
    if (!method) return Ref();
  }
  Ref capsule = Ref::steal(calling([&] { return PyObject_CallNoArgs(method.get()); }));
  if (!capsule) {
    // pandas frames reach Arrow through pyarrow even with a protocol of their
    // own: without it, say which extra installs it.
    if (PyErr_ExceptionMatches(PyExc_ImportError)) {
      PyObject *type = nullptr, *error = nullptr, *traceback = nullptr;
      PyErr_Fetch(&type, &error, &traceback);
      if (!import_pyarrow()) {
        Py_XDECREF(type);
        Py_XDECREF(error);
        Py_XDECREF(traceback);
        return Ref();
      }
      PyErr_Restore(type, error, traceback);
    }
    return Ref();
  }
  if (!PyCapsule_CheckExact(capsule.get())) {
    return type_error("__arrow_c_stream__() returned %U, not a PyCapsule", capsule.get());
  }
  const char* name = PyCapsule_GetName(capsule.get());
  if (name == nullptr && PyErr_Occurred()) return Ref();
  if (name == nullptr || std::string_view(name) != kStreamName) {
    PyErr_Format(PyExc_ValueError, "__arrow_c_stream__() returned a capsule named %s, not %s",
                 name == nullptr ? "None" : quote_bytes(name).c_str(),
                 quote_bytes(kStreamName).c_str());
    return Ref();
  }
  return capsule;
}

// A producer's stream seen through callbacks that mark the thread when the
// interpreter ends it inside the producer, and that leak the producer's
// structs instead of releasing them once it is ending: a producer written in
// Python needs the lock to release them, and the thread no longer holds it.
template <class T>
struct Kept {
  void (*release)(T*);
  void* private_data;
};

template <class T>
void release_kept(T* s) {
  auto* kept = static_cast<Kept<T>*>(s->private_data);
  if (thread_ending) {
    s->release = nullptr;
    return;
  }
  s->release = kept->release;
  s->private_data = kept->private_data;
  delete kept;
  SavedError saved;
  calling([s] { s->release(s); });
}

// Puts release_kept in front of the release of *s, which a producer filled.
template <class T>
void keep(T* s) {
  if (s->release == nullptr) return;
  auto* kept = new (std::nothrow) Kept<T>{s->release, s->private_data};
  if (kept == nullptr) return;  // released directly, then
  s->private_data = kept;
  s->release = release_kept<T>;
}

ArrowArrayStream* inner(ArrowArrayStream* s) {
  return static_cast<ArrowArrayStream*>(s->private_data);
}

// Takes over *producer (a live stream with its callbacks) into the stream
// returned; the producer's stream is released with it.
ArrowArrayStream watched(ArrowArrayStream* producer) {
  ArrowArrayStream out{};
  out.private_data = new ArrowArrayStream(*producer);
  producer->release = nullptr;
  out.get_schema = [](ArrowArrayStream* s, ArrowSchema* schema) {
    const int got = calling([&] { return inner(s)->get_schema(inner(s), schema); });
    if (got == 0) keep(schema);
    return got;
  };
  out.get_next = [](ArrowArrayStream* s, ArrowArray* batch) {
    const int got = calling([&] { return inner(s)->get_next(inner(s), batch); });
    if (got == 0) keep(batch);
    return got;
  };
  out.get_last_error = [](ArrowArrayStream* s) -> const char* {
    ArrowArrayStream* in = inner(s);
    return in->get_last_error == nullptr ? nullptr
                                         : calling([&] { return in->get_last_error(in); });
  };
  out.release = [](ArrowArrayStream* s) {
    s->release = nullptr;
    if (thread_ending) return;
    std::unique_ptr<ArrowArrayStream> in(inner(s));
    SavedError saved;
    if (in->release != nullptr) calling([&] { in->release(in.get()); });
  };
  return out;
}

// Reads one table; false with a Python exception set, or true with either
// the table pushed or `refusal` set.
bool import_one(const zarvi_core::spec::Spec& spec, PyObject* key, PyObject* value,
                std::vector<Table>& tables, std::string& refusal) {
  if (!PyUnicode_Check(key)) {
    type_error("write: table names must be str, not %U", key);
    return false;
  }
  Py_ssize_t size = 0;
  const char* text = PyUnicode_AsUTF8AndSize(key, &size);
  if (text == nullptr) return false;
  const std::string_view name(text, static_cast<size_t>(size));
  const auto* def = spec.table(name);
  if (def == nullptr) {
    refusal = "table " + quote_bytes(name) + " is not a table of the spec, whose tables are " +
              spec_table_names(spec);
    return true;
  }
  const auto columns = zarvi_core::project::plan::table_columns(spec, *def);
  Ref capsule = stream_capsule_of(value);
  if (!capsule) return false;
  auto* stream = static_cast<ArrowArrayStream*>(PyCapsule_GetPointer(capsule.get(), kStreamName));
  if (stream == nullptr) return false;
  // One that is released or lacks its callbacks is refused as it is.
  ArrowArrayStream producer{};
  const bool live = stream->release != nullptr && stream->get_schema != nullptr &&
                    stream->get_next != nullptr;
  if (live) producer = watched(stream);
  auto imported = zarvi_core::arrow::import_table(live ? &producer : stream, name, columns);
  if (imported.ok()) {
    tables.push_back(std::move(imported.value()));
    return true;
  }
  if (imported.error().kind == zarvi_core::arrow::ImportError::Kind::Open) {
    raise_text(PyExc_ValueError, imported.error().message);
    return false;
  }
  refusal = std::move(imported.error().message);
  return true;
}

}  // namespace

bool import_tables(const zarvi_core::spec::Spec& spec, PyObject* mapping, Imported& out) {
  Ref items = Ref::steal(calling([&] { return PyMapping_Items(mapping); }));
  if (!items) return false;
  Ref iterator = Ref::steal(calling([&] { return PyObject_GetIter(items.get()); }));
  if (!iterator) return false;
  std::vector<Table> tables;
  std::string refusal;
  while (Ref item = Ref::steal(calling([&] { return PyIter_Next(iterator.get()); }))) {
    Ref key = Ref::steal(calling([&] { return PySequence_GetItem(item.get(), 0); }));
    if (!key) return false;
    Ref value = Ref::steal(calling([&] { return PySequence_GetItem(item.get(), 1); }));
    if (!value) return false;
    if (!import_one(spec, key.get(), value.get(), tables, refusal)) return false;
    if (!refusal.empty()) {
      out = std::move(refusal);
      return true;
    }
  }
  if (PyErr_Occurred()) return false;
  out = zarvi_core::column::table::Tables(std::move(tables));
  return true;
}

}  // namespace zarvi_py
