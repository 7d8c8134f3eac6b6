// Diagnostic: the Python face of a core diagnostic, immutable and made only
// by the module; _external_diagnostic builds one for an outside validator.
#include "zarvi_py/diagnostic.h"

#include <memory>
#include <new>
#include <optional>
#include <string>
#include <utility>

#include "zarvi_py/args.h"
#include "zarvi_py/module.h"

namespace zarvi_py {
namespace {

using zarvi_core::Diagnostic;
using zarvi_core::Rule;

// The objects of one list share the deque they were made from, so that a
// parse never holds each diagnostic twice (its deque and a copy per object).
using SharedDiagnostic = std::shared_ptr<const Diagnostic>;

struct PyDiagnostic {
  PyObject_HEAD
  SharedDiagnostic value;
};

const Diagnostic& diag(PyObject* self) { return *reinterpret_cast<PyDiagnostic*>(self)->value; }

Ref none() { return Ref::borrow(Py_None); }

Ref optional_index(const std::optional<uint64_t>& v) {
  if (!v) return none();
  return Ref::steal(PyLong_FromUnsignedLongLong(*v));
}

const Rule::External* external(const Diagnostic& d) {
  return d.rule.get_if<Rule::External>();
}

void dealloc(PyObject* self) {
  reinterpret_cast<PyDiagnostic*>(self)->value.~SharedDiagnostic();
  free_object(self);
}

PyObject* get_level(PyObject* self, void*) {
  return guard([&] { return Ref::steal(PyLong_FromLong(diag(self).level.level())); });
}

PyObject* get_origin(PyObject* self, void*) {
  return guard([&] {
    const auto* e = external(diag(self));
    return str_from(e != nullptr ? std::string_view(e->origin) : "zarvi");
  });
}

PyObject* get_code(PyObject* self, void*) {
  return guard([&] {
    const auto* e = external(diag(self));
    return e != nullptr && e->code ? str_from(*e->code) : none();
  });
}

PyObject* get_kind(PyObject* self, void*) {
  return guard([&] { return str_from(zarvi_core::kind_name(diag(self).rule.kind())); });
}

PyObject* get_rule(PyObject* self, void*) {
  return guard([&] { return str_from(zarvi_core::to_string(diag(self).rule)); });
}

PyObject* get_segment(PyObject* self, void*) {
  return guard([&] { return optional_index(diag(self).segment); });
}

PyObject* get_element(PyObject* self, void*) {
  return guard([&] { return optional_index(diag(self).element); });
}

PyObject* get_component(PyObject* self, void*) {
  return guard([&] { return optional_index(diag(self).component); });
}

PyObject* get_path(PyObject* self, void*) {
  return guard([&] { return str_from(zarvi_core::render_path(diag(self).loops)); });
}

PyObject* get_datum(PyObject* self, void*) {
  return guard([&] { return bytes_from(diag(self).datum); });
}

PyObject* diagnostic_str(PyObject* self) {
  return guard([&] { return str_from(zarvi_core::to_string(diag(self))); });
}

std::string position_text(const std::optional<uint64_t>& v) {
  return v ? std::to_string(*v) : "None";
}

PyObject* diagnostic_repr(PyObject* self) {
  return guard([&] {
    const Diagnostic& d = diag(self);
    const auto* e = external(d);
    std::string out = "Diagnostic(level=" + std::to_string(d.level.level()) + ", origin='";
    out += e != nullptr ? e->origin : "zarvi";
    out += "', kind='";
    out += zarvi_core::kind_name(d.rule.kind());
    out += "', segment=" + position_text(d.segment);
    out += ", element=" + position_text(d.element);
    out += ", component=" + position_text(d.component) + ")";
    return str_from(out);
  });
}

PyGetSetDef kGetSet[] = {
    {"level", get_level, nullptr, "The SNIP level: 1, 2 or 3.", nullptr},
    {"origin", get_origin, nullptr, "Who reported it: \"zarvi\" or the outside validator.",
     nullptr},
    {"code", get_code, nullptr, "The outside validator's code, or None.", nullptr},
    {"kind", get_kind, nullptr, "The rule kind, such as \"CodeNotInList\".", nullptr},
    {"rule", get_rule, nullptr, "The rule's sentence.", nullptr},
    {"segment", get_segment, nullptr, "The 0-based segment index; None at the end of the stream.",
     nullptr},
    {"element", get_element, nullptr, "The 1-based element position, or None.", nullptr},
    {"component", get_component, nullptr, "The 1-based component position, or None.", nullptr},
    {"path", get_path, nullptr, "The open loops, outermost first, joined by \"/\".", nullptr},
    {"datum", get_datum, nullptr, "The offending bytes as in the file.", nullptr},
    {nullptr, nullptr, nullptr, nullptr, nullptr},
};

PyType_Slot kSlots[] = {
    {Py_tp_doc,
     const_cast<char*>("One finding about the data of a file. A value, never raised.")},
    {Py_tp_dealloc, reinterpret_cast<void*>(dealloc)},
    {Py_tp_repr, reinterpret_cast<void*>(diagnostic_repr)},
    {Py_tp_str, reinterpret_cast<void*>(diagnostic_str)},
    {Py_tp_getset, kGetSet},
    {0, nullptr},
};

PyType_Spec kSpec = {
    "zarvi.Diagnostic",
    sizeof(PyDiagnostic),
    0,
    Py_TPFLAGS_DEFAULT | Py_TPFLAGS_IMMUTABLETYPE | Py_TPFLAGS_DISALLOW_INSTANTIATION,
    kSlots,
};

// _external_diagnostic's argument checks.

constexpr const char* kFunction = "_external_diagnostic";

bool text_arg(PyObject* o, const char* name, std::string& out) {
  std::string_view text;
  if (!str_arg(kFunction, name, o, text)) return false;
  out.assign(text);
  return true;
}

bool datum_arg(PyObject* o, std::string& out) {
  if (o == nullptr) return true;
  Ref bytes;
  if (PyBytes_Check(o)) {
    bytes = Ref::borrow(o);
  } else if (!PyUnicode_Check(o) && (PyObject_CheckBuffer(o) || PySequence_Check(o))) {
    bytes = Ref::steal(PyBytes_FromObject(o));  // a list of ints, a bytearray, ...
    if (!bytes) return false;
  } else {
    wrong_type(kFunction, "datum", "a sequence of byte values", o);
    return false;
  }
  char* data = nullptr;
  Py_ssize_t n = 0;
  if (PyBytes_AsStringAndSize(bytes.get(), &data, &n) < 0) return false;
  out.assign(data, static_cast<size_t>(n));
  return true;
}

bool path_arg(PyObject* o, std::vector<zarvi_core::LoopRef>& out) {
  if (o == nullptr || o == Py_None) return true;
  constexpr const char* kExpected = "None or a sequence of (name, ordinal) pairs";
  if (PyUnicode_Check(o) || !PySequence_Check(o)) {
    wrong_type(kFunction, "path", kExpected, o);
    return false;
  }
  const Py_ssize_t n = PySequence_Size(o);
  if (n < 0) return false;
  for (Py_ssize_t i = 0; i < n; ++i) {
    Ref item = Ref::steal(PySequence_GetItem(o, i));
    if (!item) return false;
    PyObject* name = nullptr;
    PyObject* ordinal = nullptr;
    if (PyTuple_Check(item.get()) && PyTuple_Size(item.get()) == 2) {
      name = PyTuple_GetItem(item.get(), 0);
      ordinal = PyTuple_GetItem(item.get(), 1);
    }
    if (name == nullptr || !PyUnicode_Check(name) || !PyLong_Check(ordinal)) {
      wrong_type(kFunction, "path", kExpected, o);
      return false;
    }
    zarvi_core::LoopRef loop;
    std::string key;
    if (!text_arg(name, "path", key)) return false;
    loop.key = std::move(key);
    // A negative or oversized ordinal raises the interpreter's OverflowError.
    loop.instance = PyLong_AsUnsignedLongLong(ordinal);
    if (PyErr_Occurred()) return false;
    out.push_back(std::move(loop));
  }
  return true;
}

bool position_arg(PyObject* o, const char* name, zarvi_core::Position& out) {
  if (o == nullptr || o == Py_None) return true;
  Ref index = Ref::steal(PyNumber_Index(o));
  if (!index) return false;
  int overflow = 0;
  const long long signed_value = PyLong_AsLongLongAndOverflow(index.get(), &overflow);
  if (signed_value == -1 && PyErr_Occurred()) return false;
  if (overflow < 0 || (overflow == 0 && signed_value < 0)) {
    PyErr_Format(PyExc_ValueError, "%s must be a non-negative integer, got %S", name,
                 index.get());
    return false;
  }
  const unsigned long long v = PyLong_AsUnsignedLongLong(index.get());
  // The largest 64-bit value is how a diagnostic stores "none", so the
  // largest position is one below it.
  if ((v == static_cast<unsigned long long>(-1) && PyErr_Occurred()) ||
      v >= zarvi_core::Position::kNone) {
    if (PyErr_Occurred() && !PyErr_ExceptionMatches(PyExc_OverflowError)) return false;
    PyErr_Clear();
    PyErr_Format(PyExc_ValueError, "%s must be a non-negative integer of at most %llu, got %S",
                 name, static_cast<unsigned long long>(zarvi_core::Position::kNone - 1),
                 index.get());
    return false;
  }
  out = v;
  return true;
}

bool level_arg(PyObject* o, zarvi_core::SnipLevel& out) {
  Ref index = Ref::steal(PyNumber_Index(o));
  if (!index) return false;
  int overflow = 0;
  const long long v = PyLong_AsLongLongAndOverflow(index.get(), &overflow);
  if (v == -1 && PyErr_Occurred()) return false;
  if (overflow != 0 || v < 1 || v > 3) {
    PyErr_Format(PyExc_ValueError, "level must be 1, 2 or 3, got %S", index.get());
    return false;
  }
  out = zarvi_core::SnipLevel::of_level(static_cast<uint8_t>(v));
  return true;
}

PyObject* external_diagnostic(PyObject*, PyObject* args, PyObject* kwargs) {
  return guard([&]() -> Ref {
    static const char* kKeywords[] = {"origin",  "message",   "level", "code", "segment",
                                      "element", "component", "datum", "path", nullptr};
    PyObject *origin, *message, *level;
    PyObject *code = Py_None, *segment = Py_None, *element = Py_None, *component = Py_None;
    PyObject *datum = nullptr, *path = Py_None;
    // Converting datum and the positions runs Python code (__index__).
    const auto held = parse_args(args, kwargs, "OOO|OOOOOO:_external_diagnostic", kKeywords,
                                 &origin, &message, &level, &code, &segment, &element,
                                 &component, &datum, &path);
    if (!held) return Ref();

    Rule::External rule;
    Diagnostic d;
    if (!text_arg(origin, "origin", rule.origin) || !text_arg(message, "message", rule.message))
      return Ref();
    if (code != Py_None) {
      if (!PyUnicode_Check(code)) return wrong_type(kFunction, "code", "str or None", code);
      if (!text_arg(code, "code", rule.code.emplace())) return Ref();
    }
    std::vector<zarvi_core::LoopRef> loops;
    if (!datum_arg(datum, d.datum) || !path_arg(path, loops)) return Ref();
    d.loops = std::move(loops);
    if (!position_arg(segment, "segment", d.segment) ||
        !position_arg(element, "element", d.element) ||
        !position_arg(component, "component", d.component))
      return Ref();
    if (!level_arg(level, rule.level)) return Ref();
    d.level = rule.level;
    d.rule.data = std::move(rule);
    return new_diagnostic(std::move(d));
  });
}

}  // namespace

PyObject* diagnostic_type() {
  static PyObject* cell = nullptr;
  return cached_type(cell, kSpec);
}

namespace {

Ref wrap(SharedDiagnostic value) {
  Ref self = alloc_object(diagnostic_type());
  if (!self) return Ref();
  // Moving a shared_ptr cannot throw, so the object is whole once made.
  new (&reinterpret_cast<PyDiagnostic*>(self.get())->value) SharedDiagnostic(std::move(value));
  return self;
}

}  // namespace

Ref new_diagnostic(Diagnostic d) { return wrap(std::make_shared<const Diagnostic>(std::move(d))); }

Ref diagnostic_list(std::deque<Diagnostic> diagnostics) {
  const auto all = std::make_shared<const std::deque<Diagnostic>>(std::move(diagnostics));
  Ref list = Ref::steal(PyList_New(static_cast<Py_ssize_t>(all->size())));
  if (!list) return Ref();
  for (size_t i = 0; i < all->size(); ++i) {
    Ref item = wrap(SharedDiagnostic(all, &(*all)[i]));
    if (!item) return Ref();
    PyList_SetItem(list.get(), static_cast<Py_ssize_t>(i), item.release());
  }
  return list;
}

PyMethodDef kExternalDiagnosticDef = {
    "_external_diagnostic",
    reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(external_diagnostic)),
    METH_VARARGS | METH_KEYWORDS,
    "_external_diagnostic(origin, message, level, code=None, segment=None, element=None, "
    "component=None, datum=b'', path=None)\n--\n\n"
    "A Diagnostic of kind External for a finding of an outside validator, so that it sits "
    "in the same list and prints the same way as the module's own.",
};

}  // namespace zarvi_py
