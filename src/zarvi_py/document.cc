// The lossless side of a parse in Python: Delimiters (the five delimiters of
// an interchange, an immutable value copied in and out of the core),
// Document (the indexed file, owning its bytes) and Segment (one segment,
// read from its Document, which it keeps alive, on every access).
#include "zarvi_py/document.h"

#include <cstddef>
#include <new>
#include <string>
#include <utility>

#include "zarvi_core/delimiters.h"
#include "zarvi_py/args.h"
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
  wrong_type("Delimiters", name, none_allowed ? "bytes or None" : "bytes", arg);
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
    // A message quotes a bytes subclass through its own __repr__.
    const auto held = parse_args(args, kwargs, "|OOOOO:Delimiters", kKeywords, &element,
                                 &component, &segment, &repetition, &release);
    if (!held || !check_bytes("element", element, false) ||
        !check_bytes("component", component, false) || !check_bytes("segment", segment, false) ||
        !check_bytes("repetition", repetition, true) || !check_bytes("release", release, true)) {
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
     "The repetition separator, one byte, or `None` when the file has none.", field(kRepetition)},
    {"release", get_field, nullptr,
     "The release character, one byte, or `None` when it is not in use.", field(kRelease)},
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
                       "release=None)\n--\n\n"
                       "The five delimiters of an interchange.")},
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

// ---- Document and Segment ----

struct PyDocument {
  PyObject_HEAD
  zarvi_core::Document value;
  PyObject* keep;  // the bytes object value borrows from, or null
};

struct PySegment {
  PyObject_HEAD
  PyObject* document;  // a strong reference
  size_t index;
};

zarvi_core::Document& document_value(PyObject* self) {
  return reinterpret_cast<PyDocument*>(self)->value;
}

void document_dealloc(PyObject* self) {
  document_value(self).~Document();
  Py_XDECREF(reinterpret_cast<PyDocument*>(self)->keep);
  free_object(self);
}

// IndexError "segment index {} is out of range: the document has {} segments".
Ref out_of_range(long long index, size_t count) {
  PyErr_Format(PyExc_IndexError, "segment index %lld is out of range: the document has %zu segments",
               index, count);
  return Ref();
}

Ref new_segment(PyObject* document, size_t index) {
  Ref self = alloc_object(segment_type());
  if (!self) return Ref();
  auto* s = reinterpret_cast<PySegment*>(self.get());
  s->document = Ref::borrow(document).release();
  s->index = index;
  return self;
}

Py_ssize_t document_len(PyObject* self) {
  return static_cast<Py_ssize_t>(document_value(self).size());
}

PyObject* document_getitem(PyObject* self, PyObject* key) {
  return guard([&]() -> Ref {
    if (!PyIndex_Check(key)) return wrong_type("Document.__getitem__", "index", "int", key);
    Ref number = Ref::steal(PyNumber_Index(key));
    if (!number) return Ref();
    const long long i = PyLong_AsLongLong(number.get());
    if (i == -1 && PyErr_Occurred()) return Ref();
    const size_t count = document_value(self).size();
    const auto n = static_cast<long long>(count);
    if (i >= n || i < -n) return out_of_range(i, count);
    return new_segment(self, static_cast<size_t>(i < 0 ? i + n : i));
  });
}

PyObject* document_write(PyObject* self, PyObject*) {
  return guard([&] { return bytes_from(document_value(self).source()); });
}

PyObject* document_delimiters(PyObject* self, void*) {
  return guard([&] { return new_delimiters(document_value(self).delimiters()); });
}

PyObject* document_repr(PyObject* self) {
  return guard([&] {
    const zarvi_core::Document& d = document_value(self);
    return Ref::steal(PyUnicode_FromFormat("Document(segments=%zu, bytes=%zu)", d.size(),
                                           d.source().size()));
  });
}

PyMethodDef kDocumentMethods[] = {
    {"write", document_write, METH_NOARGS, "write($self, /)\n--\n\nThe file, byte for byte."},
    {nullptr, nullptr, 0, nullptr},
};

PyGetSetDef kDocumentGetSet[] = {
    {"delimiters", document_delimiters, nullptr, "The delimiters of the file.", nullptr},
    {nullptr, nullptr, nullptr, nullptr, nullptr},
};

PyType_Slot kDocumentSlots[] = {
    {Py_tp_doc, const_cast<char*>("The file, indexed into segments and held byte for byte.")},
    {Py_tp_dealloc, reinterpret_cast<void*>(document_dealloc)},
    {Py_tp_repr, reinterpret_cast<void*>(document_repr)},
    {Py_tp_methods, kDocumentMethods},
    {Py_tp_getset, kDocumentGetSet},
    {Py_mp_length, reinterpret_cast<void*>(document_len)},
    {Py_mp_subscript, reinterpret_cast<void*>(document_getitem)},
    {0, nullptr},
};

PyType_Spec kDocumentSpec = {
    "zarvi.Document",
    sizeof(PyDocument),
    0,
    Py_TPFLAGS_DEFAULT | Py_TPFLAGS_IMMUTABLETYPE | Py_TPFLAGS_DISALLOW_INSTANTIATION,
    kDocumentSlots,
};

PySegment* as_segment(PyObject* self) { return reinterpret_cast<PySegment*>(self); }

void segment_dealloc(PyObject* self) {
  Py_CLEAR(as_segment(self)->document);
  free_object(self);
}

// The segment's document; every getter reads it afresh.
const zarvi_core::Document& segment_document(PyObject* self) {
  return document_value(as_segment(self)->document);
}

// Runs read(document, index) when the index is in range, else IndexError.
template <class F>
PyObject* segment_get(PyObject* self, F&& read) {
  return guard([&]() -> Ref {
    const zarvi_core::Document& d = segment_document(self);
    const size_t i = as_segment(self)->index;
    if (i >= d.size()) return out_of_range(static_cast<long long>(i), d.size());
    return read(d, i);
  });
}

PyObject* segment_index(PyObject* self, void*) {
  return segment_get(self, [](const zarvi_core::Document&, size_t i) {
    return Ref::steal(PyLong_FromSize_t(i));
  });
}

PyObject* segment_id(PyObject* self, void*) {
  return segment_get(self, [](const zarvi_core::Document& d, size_t i) {
    return bytes_from(d.segment_id(i).value_or(std::string_view()));
  });
}

PyObject* segment_raw(PyObject* self, void*) {
  return segment_get(self, [](const zarvi_core::Document& d, size_t i) {
    return bytes_from(d.raw(i).value_or(std::string_view()));
  });
}

PyObject* segment_span(PyObject* self, void*) {
  return segment_get(self, [](const zarvi_core::Document& d, size_t i) -> Ref {
    const auto span = d.span(i);
    if (!span) return out_of_range(static_cast<long long>(i), d.size());
    return Ref::steal(Py_BuildValue("(KK)", static_cast<unsigned long long>(span->raw_start),
                                    static_cast<unsigned long long>(span->raw_end)));
  });
}

Ref bytes_list(std::span<const zarvi_core::Bytes> parts) {
  Ref list = Ref::steal(PyList_New(static_cast<Py_ssize_t>(parts.size())));
  if (!list) return Ref();
  for (size_t i = 0; i < parts.size(); ++i) {
    Ref item = bytes_from(parts[i].view());
    if (!item) return Ref();
    PyList_SetItem(list.get(), static_cast<Py_ssize_t>(i), item.release());
  }
  return list;
}

PyObject* segment_elements(PyObject* self, void*) {
  return segment_get(self, [](const zarvi_core::Document& d, size_t i) -> Ref {
    const auto segment = d.segment(i);
    if (!segment) return out_of_range(static_cast<long long>(i), d.size());
    const auto elements = segment->elements();
    Ref list = Ref::steal(PyList_New(static_cast<Py_ssize_t>(elements.size())));
    if (!list) return Ref();
    for (size_t e = 0; e < elements.size(); ++e) {
      Ref item = elements[e].is_composite() ? bytes_list(elements[e].components())
                                            : bytes_from(elements[e].value());
      if (!item) return Ref();
      PyList_SetItem(list.get(), static_cast<Py_ssize_t>(e), item.release());
    }
    return list;
  });
}

PyObject* segment_repr(PyObject* self) {
  return segment_get(self, [](const zarvi_core::Document& d, size_t i) -> Ref {
    Ref id = bytes_from(d.segment_id(i).value_or(std::string_view()));
    if (!id) return Ref();
    return Ref::steal(PyUnicode_FromFormat("Segment(index=%zu, id=%R)", i, id.get()));
  });
}

PyGetSetDef kSegmentGetSet[] = {
    {"index", segment_index, nullptr, "The 0-based position in the document.", nullptr},
    {"id", segment_id, nullptr, "The segment identifier; empty for an empty frame.", nullptr},
    {"raw", segment_raw, nullptr,
     "The exact bytes of the segment: leading trivia, body and terminator.", nullptr},
    {"span", segment_span, nullptr,
     "The (start, end) byte range of raw in the input, end exclusive.", nullptr},
    {"elements", segment_elements, nullptr,
     "The elements in X12 order, elements[0] being XX01: bytes for a simple element, a list "
     "of bytes for a composite one.",
     nullptr},
    {nullptr, nullptr, nullptr, nullptr, nullptr},
};

PyType_Slot kSegmentSlots[] = {
    {Py_tp_doc, const_cast<char*>("One segment of a document, read from the document on access.")},
    {Py_tp_dealloc, reinterpret_cast<void*>(segment_dealloc)},
    {Py_tp_repr, reinterpret_cast<void*>(segment_repr)},
    {Py_tp_getset, kSegmentGetSet},
    {0, nullptr},
};

PyType_Spec kSegmentSpec = {
    "zarvi.Segment",
    sizeof(PySegment),
    0,
    Py_TPFLAGS_DEFAULT | Py_TPFLAGS_IMMUTABLETYPE | Py_TPFLAGS_DISALLOW_INSTANTIATION,
    kSegmentSlots,
};

}  // namespace

PyObject* document_type() {
  static PyObject* cell = nullptr;
  return cached_type(cell, kDocumentSpec);
}

PyObject* segment_type() {
  static PyObject* cell = nullptr;
  return cached_type(cell, kSegmentSpec);
}

Ref new_document(zarvi_core::Document document, Ref keep) {
  Ref self = alloc_object(document_type());
  if (!self) return self;
  new (&document_value(self.get())) zarvi_core::Document(std::move(document));
  reinterpret_cast<PyDocument*>(self.get())->keep = keep.release();
  return self;
}

const zarvi_core::Document* document_of(PyObject* object) {
  return instance_of(object, document_type()) ? &document_value(object) : nullptr;
}

namespace {

// Source is std::string_view (borrowed) or std::string (owned).
template <class Source>
zarvi_core::Result<zarvi_core::Document, std::string> index_source(
    Source&& source, const std::optional<zarvi_core::Delimiters>& delimiters) {
  if (!delimiters) {
    auto parsed = zarvi_core::Document::parse(std::forward<Source>(source));
    if (!parsed.ok()) return zarvi_core::err(zarvi_core::to_string(parsed.error()));
    return std::move(parsed.value());
  }
  auto bodies = zarvi_core::index(source, *delimiters);
  if (!bodies.ok()) return zarvi_core::err(zarvi_core::to_string(bodies.error()));
  return zarvi_core::Document(std::forward<Source>(source), *delimiters,
                              std::move(bodies.value()));
}

}  // namespace

zarvi_core::Result<zarvi_core::Document, std::string> index_input(
    Input& input, const std::optional<zarvi_core::Delimiters>& delimiters) {
  if (input.is_borrowed()) return index_source(input.borrowed, delimiters);
  return index_source(std::move(input.copy), delimiters);
}

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
