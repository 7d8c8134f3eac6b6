#include "zarvi_py/args.h"

#include <cstdio>
#include <iterator>

namespace zarvi_py {

Ref exact_keywords(PyObject* kwargs) {
  Ref copy = Ref::steal(PyDict_New());
  if (!copy) return Ref();
  PyObject *key, *value;
  Py_ssize_t at = 0;
  while (PyDict_Next(kwargs, &at, &key, &value)) {
    // Held before anything allocates: a collection may run a finalizer
    // that changes the caller's dict.
    Ref held_key = Ref::borrow(key), held_value = Ref::borrow(value);
    if (!PyUnicode_Check(key)) {
      PyErr_SetString(PyExc_TypeError, "keywords must be strings");
      return Ref();
    }
    Ref exact = Ref::steal(PyUnicode_FromObject(key));  // copies a subclass's text
    if (!exact || PyDict_SetItem(copy.get(), exact.get(), value) < 0) return Ref();
  }
  PyObject_GC_UnTrack(copy.get());
  return copy;
}

Ref wrong_type(const char* function, const char* name, const char* expected, PyObject* got) {
  Ref type_name = Ref::steal(PyType_GetName(Py_TYPE(got)));
  if (!type_name) return Ref();
  PyErr_Format(PyExc_TypeError, "%s() argument '%s' must be %s, not %U", function, name,
               expected, type_name.get());
  return Ref();
}

bool str_arg(const char* function, const char* name, PyObject* value, std::string_view& out) {
  if (!PyUnicode_Check(value)) {
    wrong_type(function, name, "str", value);
    return false;
  }
  Py_ssize_t size = 0;
  const char* data = PyUnicode_AsUTF8AndSize(value, &size);
  if (data == nullptr) return false;
  out = std::string_view(data, static_cast<size_t>(size));
  return true;
}

Ref raise_text(PyObject* type, const std::string& text) {
  Ref message = str_from(text);
  if (message) PyErr_SetObject(type, message.get());
  return Ref();
}

Ref no_memory(const std::string& task) {
  PyErr_Clear();
  return raise_text(PyExc_MemoryError, "not enough memory to " + task);
}

Ref explain_no_memory(const std::string& task) {
  if (PyErr_ExceptionMatches(PyExc_MemoryError)) return no_memory(task);
  return Ref();
}

bool replaceable_error() {
  return PyErr_ExceptionMatches(PyExc_Exception) && !PyErr_ExceptionMatches(PyExc_MemoryError);
}

Ref raise_from(PyObject* type, PyObject* message, Ref cause) {
  Ref error = Ref::steal(PyObject_CallFunctionObjArgs(type, message, nullptr));
  if (!error) return Ref();
  if (cause) PyException_SetCause(error.get(), cause.release());
  PyErr_SetObject(type, error.get());
  return Ref();
}

Ref fetch_error() {
  PyObject *type = nullptr, *value = nullptr, *traceback = nullptr;
  PyErr_Fetch(&type, &value, &traceback);
  PyErr_NormalizeException(&type, &value, &traceback);
  Ref owned_type = Ref::steal(type), owned_value = Ref::steal(value),
      owned_traceback = Ref::steal(traceback);
  if (owned_value && owned_traceback)
    PyException_SetTraceback(owned_value.get(), owned_traceback.get());
  return owned_value;
}

std::string size_text(uint64_t bytes) {
  static constexpr const char* kUnits[] = {"kB", "MB", "GB", "TB"};
  if (bytes < 1000) return std::to_string(bytes) + (bytes == 1 ? " byte" : " bytes");
  double value = static_cast<double>(bytes) / 1000;
  size_t unit = 0;
  while (value >= 999.95 && unit + 1 < std::size(kUnits)) {
    value /= 1000;
    ++unit;
  }
  char text[32];
  std::snprintf(text, sizeof text, "%.1f %s", value, kUnits[unit]);
  return text;
}

Ref alloc_object(PyObject* type) {
  if (type == nullptr) return Ref();
  auto* t = reinterpret_cast<PyTypeObject*>(type);
  auto alloc = reinterpret_cast<allocfunc>(PyType_GetSlot(t, Py_tp_alloc));
  return Ref::steal(alloc(t, 0));
}

void free_object(PyObject* self) {
  PyTypeObject* type = Py_TYPE(self);
  auto free_slot = reinterpret_cast<freefunc>(PyType_GetSlot(type, Py_tp_free));
  free_slot(self);
  Py_DECREF(type);
}

Ref raise_cleared(const char* owner) {
  PyErr_Format(PyExc_RuntimeError,
               "this %s was cleared by the garbage collector; its contents are gone", owner);
  return Ref();
}

Ref member(PyObject* field, const char* owner) {
  return field != nullptr ? Ref::borrow(field) : raise_cleared(owner);
}

bool instance_of(PyObject* object, PyObject* type) {
  if (type == nullptr) {
    PyErr_Clear();
    return false;
  }
  return PyObject_TypeCheck(object, reinterpret_cast<PyTypeObject*>(type)) != 0;
}

}  // namespace zarvi_py
