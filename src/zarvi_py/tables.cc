// Tables: a read-only mapping from table name to Table over one frozen,
// shared core Tables value; Table: one table of it, with text rendering,
// frame conversions and the Arrow PyCapsule protocol.
#include "zarvi_py/tables.h"

#include <new>
#include <optional>
#include <string>
#include <string_view>
#include <utility>

#include "zarvi_py/args.h"
#include "zarvi_py/arrow.h"
#include "zarvi_py/module.h"

namespace zarvi_py {
namespace {

using zarvi_core::column::table::SharedTables;
using zarvi_core::column::table::Table;

struct PyTables {
  PyObject_HEAD
  SharedTables tables;
  SharedSpec spec;
};

struct PyTable {
  PyObject_HEAD
  SharedTables tables;
  size_t index;
};

PyTables* as_tables(PyObject* self) { return reinterpret_cast<PyTables*>(self); }
PyTable* as_table(PyObject* self) { return reinterpret_cast<PyTable*>(self); }

template <class T>
void dealloc(PyObject* self) {
  reinterpret_cast<T*>(self)->~T();
  free_object(self);
}

// The names of every table in stored order, joined by ", ".
std::string name_list(const zarvi_core::column::table::Tables& tables) {
  std::string out;
  for (const Table& t : tables) {
    if (!out.empty()) out += ", ";
    out += t.name();
  }
  return out;
}

// Calls make() with the interpreter lock released and returns its text.
template <class F>
Ref render_unlocked(F&& make) {
  std::string text;
  {
    AllowThreads unlocked;
    text = make();
  }
  return str_from(text);
}

// ---- Table ----

// The core table of a Table object; RuntimeError when the index is past
// the end, which the frozen tables make impossible.
const Table* table_of(PyObject* self) {
  const PyTable* t = as_table(self);
  if (!t->tables || t->index >= t->tables->size()) {
    PyErr_Format(PyExc_RuntimeError, "table #%zu is gone", t->index);
    return nullptr;
  }
  return &(*t->tables)[t->index];
}

Ref new_table(const SharedTables& tables, size_t index);
Py_ssize_t table_len(PyObject* self) {
  const Table* t = table_of(self);
  return t == nullptr ? -1 : static_cast<Py_ssize_t>(t->rows());
}

PyObject* table_name(PyObject* self, void*) {
  return guard([&] {
    const Table* t = table_of(self);
    return t == nullptr ? Ref() : str_from(t->name());
  });
}

PyObject* table_columns(PyObject* self, void*) {
  return guard([&]() -> Ref {
    const Table* t = table_of(self);
    if (t == nullptr) return Ref();
    Ref list = Ref::steal(PyList_New(0));
    if (!list) return Ref();
    for (const auto& c : t->columns()) {
      Ref name = str_from(c.name);
      if (!name || PyList_Append(list.get(), name.get()) < 0) return Ref();
    }
    return list;
  });
}

PyObject* table_render(PyObject* self, PyObject*) {
  return guard([&]() -> Ref {
    const Table* t = table_of(self);
    if (t == nullptr) return Ref();
    return render_unlocked([&] { return zarvi_core::column::table::to_string(*t); });
  });
}

Ref table_to_pandas(PyObject* table, const char* owner) {
  if (!import_optional(owner, "to_pandas", "pandas", "pandas")) return Ref();
  Ref pyarrow = import_optional(owner, "to_pandas", "pyarrow", "pandas");
  if (!pyarrow) return Ref();
  Ref arrow_table = Ref::steal(PyObject_CallMethod(pyarrow.get(), "table", "O", table));
  if (!arrow_table) return Ref();
  return Ref::steal(PyObject_CallMethod(arrow_table.get(), "to_pandas", nullptr));
}

Ref table_to_polars(PyObject* table, const char* owner) {
  Ref polars = import_optional(owner, "to_polars", "polars", "polars");
  if (!polars) return Ref();
  return Ref::steal(PyObject_CallMethod(polars.get(), "DataFrame", "O", table));
}

PyObject* table_pandas(PyObject* self, PyObject*) {
  return guard([&] { return table_to_pandas(self, "Table"); });
}

PyObject* table_polars(PyObject* self, PyObject*) {
  return guard([&] { return table_to_polars(self, "Table"); });
}

PyObject* table_schema(PyObject* self, PyObject*) {
  return guard([&] {
    const PyTable* t = as_table(self);
    return schema_capsule(t->tables, t->index);
  });
}

// requested_schema is accepted and ignored: the table has one schema.
bool requested_schema(PyObject* args, PyObject* kwargs, const char* format) {
  static const char* kKeywords[] = {"requested_schema", nullptr};
  PyObject* ignored = Py_None;
  return PyArg_ParseTupleAndKeywords(args, kwargs, format, const_cast<char**>(kKeywords),
                                     &ignored) != 0;
}

PyObject* table_array(PyObject* self, PyObject* args, PyObject* kwargs) {
  return guard([&]() -> Ref {
    if (!requested_schema(args, kwargs, "|O:__arrow_c_array__")) return Ref();
    const PyTable* t = as_table(self);
    return array_capsules(t->tables, t->index);
  });
}

PyObject* table_stream(PyObject* self, PyObject* args, PyObject* kwargs) {
  return guard([&]() -> Ref {
    if (!requested_schema(args, kwargs, "|O:__arrow_c_stream__")) return Ref();
    const PyTable* t = as_table(self);
    return stream_capsule(t->tables, t->index);
  });
}

PyObject* table_repr(PyObject* self) {
  return guard([&]() -> Ref {
    const Table* t = table_of(self);
    if (t == nullptr) return Ref();
    return str_from("Table(name='" + t->name() + "', rows=" + std::to_string(t->rows()) +
                    ", columns=" + std::to_string(t->columns().size()) + ")");
  });
}

PyCFunction varargs(PyObject* (*f)(PyObject*, PyObject*, PyObject*)) {
  return reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(f));
}

PyMethodDef kTableMethods[] = {
    {"render", table_render, METH_NOARGS,
     "render($self, /)\n--\n\nThe table as text: its title, header and one line per row."},
    {"to_pandas", table_pandas, METH_NOARGS,
     "to_pandas($self, /)\n--\n\n"
     "The table as a pandas DataFrame, made through pyarrow.\n\n"
     "Raises ImportError, naming the extra to install (zarvi[pandas]), when pandas or\n"
     "pyarrow is missing."},
    {"to_polars", table_polars, METH_NOARGS,
     "to_polars($self, /)\n--\n\n"
     "The table as a polars DataFrame, sharing the column buffers through the Arrow\n"
     "capsule.\n\n"
     "Raises ImportError, naming the extra to install (zarvi[polars]), when polars is\n"
     "missing."},
    {"__arrow_c_schema__", table_schema, METH_NOARGS,
     "__arrow_c_schema__($self, /)\n--\n\nThe Arrow schema of the table, in a capsule."},
    {"__arrow_c_array__", varargs(table_array), METH_VARARGS | METH_KEYWORDS,
     "__arrow_c_array__($self, /, requested_schema=None)\n--\n\n"
     "The table as one Arrow struct array sharing the column buffers: a tuple of an "
     "\"arrow_schema\" and an \"arrow_array\" capsule. requested_schema is ignored."},
    {"__arrow_c_stream__", varargs(table_stream), METH_VARARGS | METH_KEYWORDS,
     "__arrow_c_stream__($self, /, requested_schema=None)\n--\n\n"
     "An Arrow stream of one record batch sharing the column buffers, in a capsule. "
     "requested_schema is ignored."},
    {nullptr, nullptr, 0, nullptr},
};

PyGetSetDef kTableGetSet[] = {
    {"name", table_name, nullptr, "The table's name, such as \"claims\".", nullptr},
    {"columns", table_columns, nullptr, "The column names, in column order.", nullptr},
    {nullptr, nullptr, nullptr, nullptr, nullptr},
};

PyType_Slot kTableSlots[] = {
    {Py_tp_doc, const_cast<char*>("One projected table. Shares the tables it belongs to.")},
    {Py_tp_dealloc, reinterpret_cast<void*>(dealloc<PyTable>)},
    {Py_tp_repr, reinterpret_cast<void*>(table_repr)},
    {Py_tp_methods, kTableMethods},
    {Py_tp_getset, kTableGetSet},
    {Py_mp_length, reinterpret_cast<void*>(table_len)},
    {0, nullptr},
};

PyType_Spec kTableSpec = {
    "zarvi.Table",
    sizeof(PyTable),
    0,
    Py_TPFLAGS_DEFAULT | Py_TPFLAGS_IMMUTABLETYPE | Py_TPFLAGS_DISALLOW_INSTANTIATION,
    kTableSlots,
};

Ref new_table(const SharedTables& tables, size_t index) {
  Ref self = alloc_object(table_type());
  if (!self) return Ref();
  new (&as_table(self.get())->tables) SharedTables(tables);
  as_table(self.get())->index = index;
  return self;
}

// ---- Tables ----

const zarvi_core::column::table::Tables& core(PyObject* self) { return *as_tables(self)->tables; }

Py_ssize_t tables_len(PyObject* self) { return static_cast<Py_ssize_t>(core(self).size()); }

// The index of the first table of that name.
std::optional<size_t> find(const zarvi_core::column::table::Tables& tables, std::string_view name) {
  const size_t i = tables.index(name);
  if (i == tables.size()) return std::nullopt;
  return i;
}

PyObject* tables_getitem(PyObject* self, PyObject* key) {
  return guard([&]() -> Ref {
    std::string_view name;
    if (!str_arg("Tables.__getitem__", "name", key, name)) return Ref();
    const auto index = find(core(self), name);
    if (!index) {
      return raise_text(PyExc_KeyError, "there is no table \"" + std::string(name) +
                                       "\"; the tables are: " + name_list(core(self)));
    }
    return new_table(as_tables(self)->tables, *index);
  });
}

int tables_contains(PyObject* self, PyObject* key) {
  return guard_int([&] {
    std::string_view name;
    if (!str_arg("Tables.__contains__", "name", key, name)) return -1;
    return find(core(self), name) ? 1 : 0;
  });
}

Ref name_sequence(PyObject* self, bool as_tuple) {
  const auto& tables = core(self);
  const auto n = static_cast<Py_ssize_t>(tables.size());
  Ref out = Ref::steal(as_tuple ? PyTuple_New(n) : PyList_New(n));
  if (!out) return Ref();
  for (Py_ssize_t i = 0; i < n; ++i) {
    Ref name = str_from(tables[static_cast<size_t>(i)].name());
    if (!name) return Ref();
    if (as_tuple) {
      PyTuple_SetItem(out.get(), i, name.release());
    } else {
      PyList_SetItem(out.get(), i, name.release());
    }
  }
  return out;
}

PyObject* tables_iter(PyObject* self) {
  return guard([&]() -> Ref {
    Ref names = name_sequence(self, true);
    if (!names) return Ref();
    return Ref::steal(PyObject_GetIter(names.get()));
  });
}

PyObject* tables_keys(PyObject* self, PyObject*) {
  return guard([&] { return name_sequence(self, false); });
}

PyObject* tables_render(PyObject* self, PyObject*) {
  return guard([&] {
    return render_unlocked([&] { return zarvi_core::column::table::to_string(core(self)); });
  });
}

// A dict of every table's frame, in table order.
template <Ref (*Convert)(PyObject*, const char*)>
PyObject* tables_frames(PyObject* self, PyObject*) {
  return guard([&]() -> Ref {
    Ref out = Ref::steal(PyDict_New());
    if (!out) return Ref();
    const auto& tables = core(self);
    for (size_t i = 0; i < tables.size(); ++i) {
      Ref table = new_table(as_tables(self)->tables, i);
      if (!table) return Ref();
      Ref frame = Convert(table.get(), "Tables");
      if (!frame) return Ref();
      // The whole name: a name may hold a NUL byte.
      Ref name = str_from(tables[i].name());
      if (!name || PyDict_SetItem(out.get(), name.get(), frame.get()) < 0) return Ref();
    }
    return out;
  });
}

PyObject* tables_spec(PyObject* self, void*) {
  return guard([&] { return wrap_spec(as_tables(self)->spec); });
}

PyObject* tables_repr(PyObject* self) {
  return guard([&] {
    std::string out = "Tables(";
    bool first = true;
    for (const Table& t : core(self)) {
      if (!first) out += ", ";
      first = false;
      out += t.name() + ": " + std::to_string(t.rows()) + " rows";
    }
    return str_from(out + ")");
  });
}

PyMethodDef kTablesMethods[] = {
    {"keys", tables_keys, METH_NOARGS,
     "keys($self, /)\n--\n\n"
     "The table names (a list of str), in spec order (the byte order of the names)."},
    {"render", tables_render, METH_NOARGS,
     "render($self, /)\n--\n\nEvery table as text, one after another."},
    {"to_pandas", tables_frames<table_to_pandas>, METH_NOARGS,
     "to_pandas($self, /)\n--\n\n"
     "A dict of table name to pandas DataFrame, in table order.\n\n"
     "Raises ImportError, naming the extra to install, when pandas or pyarrow is missing."},
    {"to_polars", tables_frames<table_to_polars>, METH_NOARGS,
     "to_polars($self, /)\n--\n\n"
     "A dict of table name to polars DataFrame, in table order.\n\n"
     "Raises ImportError, naming the extra to install, when polars is missing."},
    {nullptr, nullptr, 0, nullptr},
};

PyGetSetDef kTablesGetSet[] = {
    {"spec", tables_spec, nullptr, "The spec that projected the tables.", nullptr},
    {nullptr, nullptr, nullptr, nullptr, nullptr},
};

PyType_Slot kTablesSlots[] = {
    {Py_tp_doc, const_cast<char*>(
                    "The tables of one parse or one batch, by name. Shared, never copied.")},
    {Py_tp_dealloc, reinterpret_cast<void*>(dealloc<PyTables>)},
    {Py_tp_repr, reinterpret_cast<void*>(tables_repr)},
    {Py_tp_iter, reinterpret_cast<void*>(tables_iter)},
    {Py_tp_methods, kTablesMethods},
    {Py_tp_getset, kTablesGetSet},
    {Py_mp_length, reinterpret_cast<void*>(tables_len)},
    {Py_mp_subscript, reinterpret_cast<void*>(tables_getitem)},
    {Py_sq_contains, reinterpret_cast<void*>(tables_contains)},
    {0, nullptr},
};

PyType_Spec kTablesSpec = {
    "zarvi.Tables",
    sizeof(PyTables),
    0,
    Py_TPFLAGS_DEFAULT | Py_TPFLAGS_IMMUTABLETYPE | Py_TPFLAGS_DISALLOW_INSTANTIATION,
    kTablesSlots,
};

}  // namespace

PyObject* table_type() {
  static PyObject* cell = nullptr;
  return cached_type(cell, kTableSpec);
}

PyObject* tables_type() {
  static PyObject* cell = nullptr;
  return cached_type(cell, kTablesSpec);
}

Ref new_tables(SharedTables tables, SharedSpec spec) {
  Ref self = alloc_object(tables_type());
  if (!self) return Ref();
  new (&as_tables(self.get())->tables) SharedTables(std::move(tables));
  new (&as_tables(self.get())->spec) SharedSpec(std::move(spec));
  return self;
}

const SharedTables* tables_of(PyObject* object) {
  return instance_of(object, tables_type()) ? &as_tables(object)->tables : nullptr;
}

const SharedSpec* tables_spec_of(PyObject* object) {
  return tables_of(object) == nullptr ? nullptr : &as_tables(object)->spec;
}

Ref import_optional(const char* owner, const char* method, const char* module,
                    const char* extra) {
  Ref imported = Ref::steal(PyImport_ImportModule(module));
  if (imported) return imported;
  // Only an ImportError is worded here, with the failed import as its
  // cause; anything else (an interruption, an exit, a lack of memory, an
  // error of the package's own) is raised as it is.
  if (!PyErr_ExceptionMatches(PyExc_ImportError)) return Ref();
  Ref cause = fetch_error();
  // Absent is the module itself not found; a package that is there but
  // fails to import (a missing dependency, a broken build) is told apart.
  bool absent = false;
  if (PyErr_GivenExceptionMatches(cause.get(), PyExc_ModuleNotFoundError)) {
    Ref name = Ref::steal(PyObject_GetAttrString(cause.get(), "name"));
    if (!name) return Ref();
    absent = PyUnicode_Check(name.get()) &&
             PyUnicode_CompareWithASCIIString(name.get(), module) == 0;
  }
  Ref message = Ref::steal(
      absent ? PyUnicode_FromFormat(
                   "%s.%s needs %s, which is not installed; install it with: pip install "
                   "\"zarvi[%s]\"",
                   owner, method, module, extra)
             : PyUnicode_FromFormat("%s.%s needs %s, which is installed but failed to import: %S",
                                    owner, method, module, cause.get()));
  if (!message) return Ref();
  return raise_from(PyExc_ImportError, message.get(), std::move(cause));
}

}  // namespace zarvi_py
