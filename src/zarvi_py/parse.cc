// parse: indexes the input, chooses the spec, runs the processor (all with
// the lock released) and returns a Result; Result's summaries read the 835
// tables of the built-in specs.
#include "zarvi_py/parse.h"

#include <optional>
#include <set>
#include <string>
#include <utility>

#include "zarvi_core/column/table.h"
#include "zarvi_core/process.h"
#include "zarvi_core/text.h"
#include "zarvi_py/diagnostic.h"
#include "zarvi_py/document.h"
#include "zarvi_py/module.h"
#include "zarvi_py/native.h"
#include "zarvi_py/tables.h"

namespace zarvi_py {
namespace {

using zarvi_core::column::Cell;
using zarvi_core::column::ColumnView;
using zarvi_core::column::ColumnType;
using zarvi_core::column::table::Table;

struct PyParseResult {
  PyObject_HEAD
  PyObject* document;
  PyObject* tables;
  PyObject* diagnostics;
  ResultParts parts;
};

PyParseResult* as_result(PyObject* self) { return reinterpret_cast<PyParseResult*>(self); }

int result_traverse(PyObject* self, visitproc visit, void* arg) {
  Py_VISIT(as_result(self)->document);
  Py_VISIT(as_result(self)->tables);
  Py_VISIT(as_result(self)->diagnostics);
  Py_VISIT(Py_TYPE(self));
  return 0;
}

int result_clear(PyObject* self) {
  // The parts point into the document and the tables: they go first.
  as_result(self)->parts = {};
  Py_CLEAR(as_result(self)->document);
  Py_CLEAR(as_result(self)->tables);
  Py_CLEAR(as_result(self)->diagnostics);
  return 0;
}

void result_dealloc(PyObject* self) {
  PyObject_GC_UnTrack(self);
  result_clear(self);
  free_object(self);
}

// The parts of a Result the collector has not cleared; null with an
// exception once it has.
const ResultParts* live_parts(PyObject* self) {
  const ResultParts& parts = as_result(self)->parts;
  if (parts.document != nullptr && parts.spec != nullptr) return &parts;
  raise_cleared("Result");
  return nullptr;
}

const zarvi_core::column::table::Tables* tables_of_result(PyObject* self) {
  PyObject* tables = as_result(self)->tables;
  if (tables == nullptr) {
    raise_cleared("Result");
    return nullptr;
  }
  return tables_of(tables)->get();
}

// ---- summaries ----

// The table a summary reads; KeyError naming every table when absent.
const Table* summary_table(PyObject* self, const char* method, const char* name) {
  const auto* tables = tables_of_result(self);
  if (tables == nullptr) return nullptr;
  if (const Table* t = tables->get(name)) return t;
  std::string list;
  for (const Table& t : *tables) list += (list.empty() ? "" : ", ") + t.name();
  raise_text(PyExc_KeyError, std::string("Result.") + method + " reads the table \"" + name +
                                 "\"; the tables are: " + list);
  return nullptr;
}

// The column a summary reads; KeyError naming every column when absent.
std::optional<ColumnView> summary_column(const Table& table, const char* method,
                                         const char* name) {
  if (std::optional<ColumnView> c = table.column(name)) return c;
  std::string list;
  for (const auto& c : table.columns()) list += (list.empty() ? "" : ", ") + c.name;
  raise_text(PyExc_KeyError, std::string("Result.") + method + " reads the column \"" + name +
                                 "\" of the table \"" + table.name() +
                                 "\"; its columns are: " + list);
  return std::nullopt;
}

PyObject* count_claims(PyObject* self, PyObject*) {
  return guard([&]() -> Ref {
    const Table* claims = summary_table(self, "count_claims", "claims");
    if (claims == nullptr) return Ref();
    return Ref::steal(PyLong_FromSize_t(claims->rows()));
  });
}

PyObject* count_patients(PyObject* self, PyObject*) {
  return guard([&]() -> Ref {
    constexpr const char* kMethod = "count_patients";
    const Table* claims = summary_table(self, kMethod, "claims");
    if (claims == nullptr) return Ref();
    const std::optional<ColumnView> ids = summary_column(*claims, kMethod, "patient_id");
    if (!ids) return Ref();
    // Ids compare as the bytes of their text: "0123" and "123" are two.
    std::set<std::string> seen;
    for (size_t row = 0; row < ids->rows(); ++row) {
      const std::optional<Cell> cell = ids->get(row);
      if (!cell || cell->is_null()) continue;
      if (cell->kind() == Cell::Kind::Binary) {
        seen.emplace(cell->bytes());
      } else {
        seen.insert(ids->render(row).value_or(""));
      }
    }
    return Ref::steal(PyLong_FromSize_t(seen.size()));
  });
}

PyObject* sum_payments(PyObject* self, PyObject*) {
  return guard([&]() -> Ref {
    constexpr const char* kMethod = "sum_payments";
    const Table* payments = summary_table(self, kMethod, "payments");
    if (payments == nullptr) return Ref();
    const std::optional<ColumnView> amounts =
        summary_column(*payments, kMethod, "total_payment_amount");
    if (!amounts) return Ref();
    const ColumnType type = amounts->type();
    if (type.kind != ColumnType::Kind::Decimal128) {
      return raise_text(PyExc_TypeError,
                        "Result.sum_payments reads \"total_payment_amount\" of the table "
                        "\"payments\" as a decimal; it is " +
                            zarvi_core::column::to_string(type));
    }
    zarvi_core::i128 total = 0;
    for (size_t row = 0; row < amounts->rows(); ++row) {
      const std::optional<Cell> cell = amounts->get(row);
      if (!cell || cell->is_null()) continue;
      if (__builtin_add_overflow(total, cell->decimal128(), &total)) {
        return raise_text(
            PyExc_ValueError,
            "Result.sum_payments: the sum of \"total_payment_amount\" in the table "
            "\"payments\" overflows a 128-bit decimal at row " +
                std::to_string(row) + " (amount " +
                zarvi_core::render_amount(cell->decimal128(), type.scale) + ")");
      }
    }
    Ref decimal = Ref::steal(PyImport_ImportModule("decimal"));
    if (!decimal) return Ref();
    const std::string text = zarvi_core::render_amount(total, type.scale);
    return Ref::steal(PyObject_CallMethod(decimal.get(), "Decimal", "s", text.c_str()));
  });
}

// payer or payee: six texts of the one row of "payments", or None when all
// are null.
Ref organisation(PyObject* self, const char* who) {
  static constexpr std::pair<const char*, const char*> kFields[] = {
      {"name", "name"}, {"identification_code", "id"}, {"address", "address"},
      {"city", "city"}, {"state", "state"},           {"zip_code", "zip"},
  };
  const Table* payments = summary_table(self, who, "payments");
  if (payments == nullptr) return Ref();
  if (payments->rows() != 1) {
    PyErr_Format(PyExc_ValueError,
                 "Result.%s reads one transaction; the table \"payments\" has %zu rows", who,
                 payments->rows());
    return Ref();
  }
  Ref out = Ref::steal(PyDict_New());
  if (!out) return Ref();
  bool any = false;
  for (const auto& [key, suffix] : kFields) {
    const std::string column = std::string(who) + "_" + suffix;
    const std::optional<ColumnView> data = summary_column(*payments, who, column.c_str());
    if (!data) return Ref();
    const std::optional<Cell> cell = data->get(0);
    Ref value;
    if (!cell || cell->is_null()) {
      value = Ref::borrow(Py_None);
    } else {
      any = true;
      value = str_from(data->render(0).value_or(""));
    }
    if (!value || PyDict_SetItemString(out.get(), key, value.get()) < 0) return Ref();
  }
  return any ? std::move(out) : Ref::borrow(Py_None);
}

PyObject* get_payer(PyObject* self, void*) {
  return guard([&] { return organisation(self, "payer"); });
}

PyObject* get_payee(PyObject* self, void*) {
  return guard([&] { return organisation(self, "payee"); });
}

PyObject* get_document(PyObject* self, void*) {
  return member(as_result(self)->document, "Result").release();
}

PyObject* get_tables(PyObject* self, void*) {
  return member(as_result(self)->tables, "Result").release();
}

PyObject* get_diagnostics(PyObject* self, void*) {
  return member(as_result(self)->diagnostics, "Result").release();
}

PyObject* get_spec(PyObject* self, void*) {
  return guard([&]() -> Ref {
    const ResultParts* parts = live_parts(self);
    if (parts == nullptr) return Ref();
    return wrap_spec(*parts->spec);
  });
}

PyObject* result_repr(PyObject* self) {
  return guard([&]() -> Ref {
    const PyParseResult* r = as_result(self);
    // The collector clears the parts with the fields, so one check serves.
    const ResultParts* parts = live_parts(self);
    if (parts == nullptr) return Ref();
    const auto* tables = tables_of_result(self);
    if (tables == nullptr) return Ref();
    return Ref::steal(PyUnicode_FromFormat("Result(segments=%zu, tables=%zu, diagnostics=%zd)",
                                           parts->document->size(), tables->size(),
                                           PyList_Size(r->diagnostics)));
  });
}

PyMethodDef kResultMethods[] = {
    {"count_claims", count_claims, METH_NOARGS,
     "count_claims($self, /)\n--\n\nThe rows of `claims`."},
    {"count_patients", count_patients, METH_NOARGS,
     "count_patients($self, /)\n--\n\n"
     "The number of distinct patients: the distinct non-null values of \"patient_id\" in\n"
     "the table \"claims\", compared as bytes (\"0123\" and \"123\" are two).\n\n"
     "Raises KeyError, naming what there is, when the table or the column is missing."},
    {"sum_payments", sum_payments, METH_NOARGS,
     "sum_payments($self, /)\n--\n\n"
     "The total paid: the sum of \"total_payment_amount\" in the table \"payments\", as a\n"
     "decimal.Decimal at the column's scale; nulls are skipped.\n\n"
     "Raises KeyError when the table or the column is missing, TypeError when the column\n"
     "is not a decimal, and ValueError when the sum overflows a 128-bit decimal."},
    {nullptr, nullptr, 0, nullptr},
};

PyGetSetDef kResultGetSet[] = {
    {"document", get_document, nullptr,
     "The file as a Document: indexed into segments, held byte for byte.", nullptr},
    {"tables", get_tables, nullptr, "The projected tables, as a Tables mapping.", nullptr},
    {"diagnostics", get_diagnostics, nullptr,
     "Every Diagnostic found, in the order of the file (a list).", nullptr},
    {"spec", get_spec, nullptr, "The Spec that read the file and projected the tables.",
     nullptr},
    {"payer", get_payer, nullptr,
     "The payer of the file's one transaction: a dict of \"name\", \"identification_code\",\n"
     "\"address\", \"city\", \"state\" and \"zip_code\" (each a str or None), or None when\n"
     "all six are absent. Raises ValueError when the file holds more or fewer than one\n"
     "transaction, KeyError when the spec's \"payments\" table lacks a column.",
     nullptr},
    {"payee", get_payee, nullptr,
     "The payee of the file's one transaction, as payer describes.", nullptr},
    {nullptr, nullptr, nullptr, nullptr, nullptr},
};

PyType_Slot kResultSlots[] = {
    {Py_tp_doc, const_cast<char*>("What one parse produced.")},
    {Py_tp_dealloc, reinterpret_cast<void*>(result_dealloc)},
    {Py_tp_traverse, reinterpret_cast<void*>(result_traverse)},
    {Py_tp_clear, reinterpret_cast<void*>(result_clear)},
    {Py_tp_repr, reinterpret_cast<void*>(result_repr)},
    {Py_tp_methods, kResultMethods},
    {Py_tp_getset, kResultGetSet},
    {0, nullptr},
};

PyType_Spec kResultSpec = {
    "zarvi.Result",
    sizeof(PyParseResult),
    0,
    Py_TPFLAGS_DEFAULT | Py_TPFLAGS_IMMUTABLETYPE | Py_TPFLAGS_DISALLOW_INSTANTIATION |
        Py_TPFLAGS_HAVE_GC,
    kResultSlots,
};

Ref new_result(Ref document, Ref tables, Ref diagnostics) {
  Ref self = alloc_object(result_type());
  if (!self) return Ref();
  PyParseResult* r = as_result(self.get());
  r->parts = {document_of(document.get()), tables_spec_of(tables.get())};
  r->document = document.release();
  r->tables = tables.release();
  r->diagnostics = diagnostics.release();
  return self;
}

// What the unlocked part of a parse hands back.
struct Parsed {
  std::optional<zarvi_core::Document> document;
  SharedSpec spec;
  zarvi_core::column::table::SharedTables tables;
  std::deque<zarvi_core::Diagnostic> diagnostics;
  std::string index_error;  // ParseError
  std::string fault;        // an internal fault of spec selection
};

// `doing` names the step under way, for the message when memory runs out.
Parsed run_parse(Input& input, const std::optional<zarvi_core::Delimiters>& delimiters,
                 SharedSpec given, const char*& doing) {
  Parsed out;
  doing = "indexing its segments";
  auto indexed = index_input(input, delimiters);
  if (!indexed.ok()) {
    out.index_error = std::move(indexed.error());
    return out;
  }
  const zarvi_core::Document& document = out.document.emplace(std::move(indexed.value()));
  zarvi_core::Segments segments(document);
  doing = "choosing its spec";
  out.spec = given_or_selected(std::move(given), [&] { return segments.next(); }, out.fault);
  if (!out.spec) return out;
  doing = "reading it into tables";
  auto run = zarvi_core::process::Processor::run(*out.spec, document);
  out.tables = zarvi_core::column::table::freeze(std::move(run.tables));
  out.diagnostics = std::move(run.diagnostics);
  return out;
}

PyObject* parse(PyObject*, PyObject* args, PyObject* kwargs) {
  return guard([&]() -> Ref {
    static const char* kKeywords[] = {"data", "spec", "delimiters", nullptr};
    PyObject* data = nullptr;
    PyObject* spec_object = Py_None;
    PyObject* delimiters_object = Py_None;
    const auto held = parse_args(args, kwargs, "O|OO:parse", kKeywords, &data, &spec_object,
                                 &delimiters_object);
    if (!held) return Ref();
    SharedSpec given;
    std::optional<zarvi_core::Delimiters> delimiters;
    Input input;
    if (!spec_arg("parse", spec_object, given) ||
        !delimiters_arg("parse", delimiters_object, delimiters) ||
        // Past this no index can hold the input (its last byte may be a
        // terminator beyond the last offset).
        !read_input(data, "parse", input, zarvi_core::kMaxDocumentBytes + 1)) {
      return Ref();
    }
    Parsed parsed;
    const char* doing = "";
    // Sized now: the run moves a copied input into the document.
    const size_t size = input.bytes().size();
    auto task = [&] { return "parse " + size_text(size) + " of input: ran out while "; };
    try {
      AllowThreads unlocked;
      parsed = run_parse(input, delimiters, std::move(given), doing);
    } catch (const std::bad_alloc&) {
      return no_memory(task() + doing);
    }
    if (!parsed.document) return raise_text(parse_error_type(), parsed.index_error);
    if (!parsed.spec) return raise_text(PyExc_RuntimeError, parsed.fault);
    const size_t count = parsed.diagnostics.size();
    Ref diagnostics = diagnostic_list(std::move(parsed.diagnostics));
    if (!diagnostics)
      return explain_no_memory(task() + "listing its " + std::to_string(count) + " diagnostics");
    Ref document = new_document(std::move(*parsed.document), std::move(input.keep));
    if (!document) return Ref();
    Ref tables = new_tables(std::move(parsed.tables), std::move(parsed.spec));
    if (!tables) return Ref();
    return new_result(std::move(document), std::move(tables), std::move(diagnostics));
  });
}

}  // namespace

PyObject* result_type() {
  static PyObject* cell = nullptr;
  return cached_type(cell, kResultSpec);
}

const ResultParts* result_parts(PyObject* object) {
  return instance_of(object, result_type()) ? live_parts(object) : nullptr;
}

PyMethodDef kParseDef = {
    "parse",
    reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(parse)),
    METH_VARARGS | METH_KEYWORDS,
    "parse(data, spec=None, delimiters=None)\n--\n\n"
    "Reads a whole 835 file into a Result: the lossless document, the tables the spec\n"
    "projects and every diagnostic found. The work runs with the GIL released.\n\n"
    "Parameters:\n"
    "    data: the file's bytes, as bytes (read in place) or any other buffer of single\n"
    "        bytes, such as bytearray, memoryview or mmap (copied once).\n"
    "    spec: the Spec to read with; None picks the built-in for the version the file\n"
    "        declares in GS08: 004010X091A1 or 004010X091 reads with\n"
    "        Spec.builtin(\"4010\"), anything else with Spec.builtin(\"5010\").\n"
    "    delimiters: the Delimiters to split with; None reads them from the ISA header.\n\n"
    "Returns:\n"
    "    A Result. Problems in the data are Diagnostic values in result.diagnostics,\n"
    "    never exceptions: a file that can be split into segments always parses.\n\n"
    "Raises:\n"
    "    ParseError: the file cannot be split into segments (no readable ISA header and\n"
    "        no delimiters given) or is 4 GiB or larger.\n"
    "    TypeError: data is a str or not a buffer of bytes, or spec or delimiters is of\n"
    "        another type.\n\n"
    "Example:\n"
    "    import pathlib, zarvi\n"
    "    result = zarvi.parse(pathlib.Path(\"remit.835\").read_bytes())\n"
    "    result.count_claims(), result.sum_payments()\n"
    "    for d in result.diagnostics:\n"
    "        print(d)",
};

}  // namespace zarvi_py
