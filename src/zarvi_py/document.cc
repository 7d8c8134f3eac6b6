// The Python Delimiters class: the five delimiters of an interchange, an
// immutable value copied in and out of the core.
#include <cstddef>
#include <new>

#include "zarvi_core/delimiters.h"
#include "zarvi_py/module.h"

namespace zarvi_py {

namespace {

struct PyDelimiters {
  PyObject_HEAD
  zarvi_core::Delimiters value;
};

zarvi_core::Delimiters& value_of(PyObject* self) {
  return reinterpret_cast<PyDelimiters*>(self)->value;
}

Ref byte_or_none(std::optional<char> byte) {
  if (!byte) return Ref::borrow(Py_None);
  return bytes_from(std::string_view(&*byte, 1));
}

// The one byte of a delimiter argument; sets ValueError for any other length.
bool one_byte(const char* name, PyObject* bytes, char& out) {
  const Py_ssize_t size = PyBytes_Size(bytes);
  if (size < 0) return false;
  if (size != 1) {
    Ref message = Ref::steal(PyUnicode_FromFormat(
        "delimiter %s must be exactly one byte, got %zd bytes: %R", name, size, bytes));
    if (message) PyErr_SetObject(PyExc_ValueError, message.get());
    return false;
  }
  out = PyBytes_AsString(bytes)[0];
  return true;
}

// An optional delimiter: None, or bytes checked as above.
bool optional_byte(const char* name, PyObject* arg, std::optional<char>& out) {
  if (arg == nullptr || arg == Py_None) return true;
  char byte = 0;
  if (!one_byte(name, arg, byte)) return false;
  out = byte;
  return true;
}

// The interpreter's standard argument error, naming the parameter:
// "Delimiters() argument 'element' must be bytes, not str".
bool check_bytes(const char* name, PyObject* arg, bool none_allowed) {
  if (arg == nullptr || PyBytes_Check(arg) || (none_allowed && arg == Py_None)) return true;
  Ref type_name = Ref::steal(PyType_GetName(Py_TYPE(arg)));
  if (!type_name) return false;
  PyErr_Format(PyExc_TypeError, "Delimiters() argument '%s' must be %s, not %U", name,
               none_allowed ? "bytes or None" : "bytes", type_name.get());
  return false;
}

PyObject* delimiters_new(PyTypeObject* type, PyObject* args, PyObject* kwargs) {
  return guard([&]() -> Ref {
    static const char* kKeywords[] = {"element", "component", "segment", "repetition", "release",
                                      nullptr};
    PyObject* element = nullptr;
    PyObject* component = nullptr;
    PyObject* segment = nullptr;
    PyObject* repetition = nullptr;
    PyObject* release = nullptr;
    if (!PyArg_ParseTupleAndKeywords(args, kwargs, "|OOOOO:Delimiters",
                                     const_cast<char**>(kKeywords), &element, &component,
                                     &segment, &repetition, &release) ||
        !check_bytes("element", element, false) || !check_bytes("component", component, false) ||
        !check_bytes("segment", segment, false) || !check_bytes("repetition", repetition, true) ||
        !check_bytes("release", release, true)) {
      return Ref();
    }
    zarvi_core::Delimiters value;
    if ((element != nullptr && !one_byte("element", element, value.element)) ||
        (component != nullptr && !one_byte("component", component, value.component)) ||
        (segment != nullptr && !one_byte("segment", segment, value.segment)) ||
        !optional_byte("repetition", repetition, value.repetition) ||
        !optional_byte("release", release, value.release)) {
      return Ref();
    }
    return new_delimiters(value, type);
  });
}

enum Field { kElement, kComponent, kSegment, kRepetition, kRelease };

PyObject* get_field(PyObject* self, void* closure) {
  return guard([&] {
    const zarvi_core::Delimiters& d = value_of(self);
    switch (static_cast<Field>(reinterpret_cast<std::intptr_t>(closure))) {
      case kElement:
        return byte_or_none(d.element);
      case kComponent:
        return byte_or_none(d.component);
      case kSegment:
        return byte_or_none(d.segment);
      case kRepetition:
        return byte_or_none(d.repetition);
      case kRelease:
        break;
    }
    return byte_or_none(d.release);
  });
}

void* field(Field f) { return reinterpret_cast<void*>(static_cast<std::intptr_t>(f)); }

PyGetSetDef kGetters[] = {
    {"element", get_field, nullptr, "The element separator, one byte.", field(kElement)},
    {"component", get_field, nullptr, "The component separator, one byte.", field(kComponent)},
    {"segment", get_field, nullptr, "The segment terminator, one byte.", field(kSegment)},
    {"repetition", get_field, nullptr,
     "The repetition separator, one byte, or None when the file has none.", field(kRepetition)},
    {"release", get_field, nullptr,
     "The release character, one byte, or None when it is not in use.", field(kRelease)},
    {nullptr, nullptr, nullptr, nullptr, nullptr},
};

PyObject* delimiters_compare(PyObject* self, PyObject* other, int op) {
  return guard([&] {
    PyObject* type = delimiters_type();
    if (type == nullptr) return Ref();
    if ((op != Py_EQ && op != Py_NE) ||
        !PyObject_TypeCheck(other, reinterpret_cast<PyTypeObject*>(type))) {
      return Ref::borrow(Py_NotImplemented);
    }
    const bool equal = value_of(self) == value_of(other);
    return Ref::borrow(equal == (op == Py_EQ) ? Py_True : Py_False);
  });
}

PyObject* delimiters_repr(PyObject* self) {
  return guard([&] {
    const zarvi_core::Delimiters& d = value_of(self);
    Ref parts[] = {byte_or_none(d.element), byte_or_none(d.component), byte_or_none(d.segment),
                   byte_or_none(d.repetition), byte_or_none(d.release)};
    for (const Ref& p : parts) {
      if (!p) return Ref();
    }
    return Ref::steal(PyUnicode_FromFormat(
        "Delimiters(element=%R, component=%R, segment=%R, repetition=%R, release=%R)",
        parts[0].get(), parts[1].get(), parts[2].get(), parts[3].get(), parts[4].get()));
  });
}

PyType_Slot kDelimitersSlots[] = {
    {Py_tp_doc,
     const_cast<char*>("Delimiters(element=b'*', component=b':', segment=b'~', repetition=None, "
                       "release=None)\n--\n\nThe five delimiters of an interchange.")},
    {Py_tp_new, reinterpret_cast<void*>(delimiters_new)},
    {Py_tp_getset, kGetters},
    {Py_tp_richcompare, reinterpret_cast<void*>(delimiters_compare)},
    {Py_tp_repr, reinterpret_cast<void*>(delimiters_repr)},
    {0, nullptr},
};

PyType_Spec kDelimitersSpec = {
    "zarvi.Delimiters",
    sizeof(PyDelimiters),
    0,
    Py_TPFLAGS_DEFAULT | Py_TPFLAGS_IMMUTABLETYPE,
    kDelimitersSlots,
};

}  // namespace

PyObject* delimiters_type() {
  static PyObject* cell = nullptr;
  return cached_type(cell, kDelimitersSpec);
}

Ref new_delimiters(const zarvi_core::Delimiters& value, PyTypeObject* type) {
  if (type == nullptr) {
    type = reinterpret_cast<PyTypeObject*>(delimiters_type());
    if (type == nullptr) return Ref();
  }
  Ref self = Ref::steal(PyType_GenericAlloc(type, 0));
  if (self) new (&value_of(self.get())) zarvi_core::Delimiters(value);
  return self;
}

const zarvi_core::Delimiters* delimiters_value(PyObject* object) {
  PyObject* type = delimiters_type();
  if (type == nullptr || !PyObject_TypeCheck(object, reinterpret_cast<PyTypeObject*>(type))) {
    return nullptr;
  }
  return &value_of(object);
}

}  // namespace zarvi_py
