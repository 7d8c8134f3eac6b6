// Start-up of zarvi._core: the module definition and the one place that
// registers every name, in a fixed order.
#include "zarvi_py/module.h"

#include <string>

namespace zarvi_py {

void set_internal_error(const char* what) noexcept {
  PyErr_Format(PyExc_RuntimeError, "internal error: %s", what);
}

Ref str_from(std::string_view text) {
  return Ref::steal(PyUnicode_DecodeUTF8(text.data(), static_cast<Py_ssize_t>(text.size()),
                                         "replace"));
}

Ref bytes_from(std::string_view bytes) {
  return Ref::steal(
      PyBytes_FromStringAndSize(bytes.data(), static_cast<Py_ssize_t>(bytes.size())));
}

PyObject* cached_type(PyObject*& cell, PyType_Spec& spec) {
  if (cell != nullptr) return cell;
  PyObject* made = PyType_FromSpec(&spec);
  if (made == nullptr) return nullptr;
  // Creation may run Python code; another thread may have filled the cell.
  if (cell == nullptr) {
    cell = made;
  } else {
    Py_DECREF(made);
  }
  return cell;
}

namespace {

PyObject* new_exception(PyObject*& cell, const char* name, const char* doc) {
  if (cell != nullptr) return cell;
  PyObject* made = PyErr_NewExceptionWithDoc(name, doc, PyExc_ValueError, nullptr);
  if (made == nullptr) {
    if (!PyErr_Occurred())
      PyErr_SetString(PyExc_RuntimeError, "Failed to initialize new exception type.");
    return nullptr;
  }
  if (cell == nullptr) {
    cell = made;
  } else {
    Py_DECREF(made);
  }
  return cell;
}

}  // namespace

PyObject* parse_error_type() {
  static PyObject* cell = nullptr;
  return new_exception(
      cell, "zarvi.ParseError",
      "Input that cannot be indexed: its delimiters cannot be read or it exceeds the size "
      "limit; the message says what was found and where.");
}

PyObject* spec_error_type() {
  static PyObject* cell = nullptr;
  return new_exception(
      cell, "zarvi.SpecError",
      "A spec that cannot be loaded or patched; the message names the rule, the loop and "
      "key, and the datum.");
}

namespace {

// One row of the registration list: the name and a maker of a new reference
// (null with an exception set on failure).
struct Addition {
  const char* name;
  Ref (*make)(PyObject* module);
};

template <PyObject* (*Type)()>
Ref type_row(PyObject*) {
  return Ref::borrow(Type());
}

template <PyMethodDef* Def>
Ref function_row(PyObject* module) {
  Ref name = Ref::steal(PyModule_GetNameObject(module));
  if (!name) return Ref();
  return Ref::steal(PyCFunction_NewEx(Def, module, name.get()));
}

// The module's names, in the order they are added and listed in __all__.
const Addition kAdditions[] = {
    {"ParseError", type_row<parse_error_type>},
    {"SpecError", type_row<spec_error_type>},
    {"Diagnostic", type_row<diagnostic_type>},
    {"Delimiters", type_row<delimiters_type>},
    {"Document", type_row<document_type>},
    {"Segment", type_row<segment_type>},
    {"Result", type_row<result_type>},
    {"Spec", type_row<spec_type>},
    {"Batch", type_row<batch_type>},
    {"Stream", type_row<stream_type>},
    {"Table", type_row<table_type>},
    {"Tables", type_row<tables_type>},
    {"Envelope", type_row<envelope_type>},
    {"WriteFinding", type_row<write_finding_type>},
    {"_external_diagnostic", function_row<&kExternalDiagnosticDef>},
    {"parse", function_row<&kParseDef>},
    {"_loop_paths", function_row<&kLoopPathsDef>},
    {"stream", function_row<&kStreamDef>},
    {"_write", function_row<&kWriteDef>},
    {"EDI_835_PARSER_PATCH", edi_835_parser_patch_row},
};

int add(PyObject* module, PyObject* all, const Addition& row) {
  Ref value = row.make(module);
  if (!value) return -1;
  Ref name = Ref::steal(PyUnicode_FromString(row.name));
  if (!name) return -1;
  if (PyList_Append(all, name.get()) < 0) return -1;
  return PyModule_AddObjectRef(module, row.name, value.get());
}

// The types and exceptions live in process-wide cells, so objects made in
// one interpreter would be shared with another; only the main interpreter
// (id 0) may load the module.
bool in_main_interpreter() {
  if (PyInterpreterState_GetID(PyInterpreterState_Get()) == 0) return true;
  PyErr_SetString(PyExc_ImportError,
                  "zarvi._core cannot be imported in a subinterpreter: it keeps process-wide "
                  "type objects; import zarvi in the main interpreter only");
  return false;
}

int exec_module(PyObject* module) {
  return guard_int([&] {
    if (!PyModule_Check(module)) {
      PyErr_BadArgument();
      return -1;
    }
    if (!in_main_interpreter()) return -1;
    Ref all;
    for (const Addition& row : kAdditions) {
      if (!all) {
        all = Ref::steal(PyList_New(0));
        if (!all || PyModule_AddObjectRef(module, "__all__", all.get()) < 0) return -1;
      }
      if (add(module, all.get(), row) < 0) return -1;
    }
    return 0;
  });
}

PyModuleDef_Slot kSlots[] = {
    {Py_mod_exec, reinterpret_cast<void*>(exec_module)},
    {0, nullptr},
};

PyModuleDef kModule = {
    PyModuleDef_HEAD_INIT,
    "_core",
    "The `zarvi._core` extension module.",
    0,
    nullptr,
    kSlots,
    nullptr,
    nullptr,
    nullptr,
};

}  // namespace
}  // namespace zarvi_py

PyMODINIT_FUNC PyInit__core(void) {
  return PyModuleDef_Init(&zarvi_py::kModule);
}
