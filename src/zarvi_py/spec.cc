// Spec: the compiled spec in Python, and the compatibility patch constant.
#include "zarvi_py/spec.h"

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <new>
#include <optional>
#include <string>
#include <unordered_set>
#include <vector>

#include "zarvi_core/spec/builtin.h"
#include "zarvi_core/spec/render.h"
#include "zarvi_core/text.h"
#include "zarvi_py/args.h"
#include "zarvi_py/module.h"

namespace zarvi_py {

namespace core_spec = zarvi_core::spec;

namespace {

struct PySpec {
  PyObject_HEAD
  SharedSpec spec;
};

PyObject* spec_type_cell = nullptr;

Ref raise_spec_error(const core_spec::SpecError& error) {
  PyObject* type = spec_error_type();
  if (type == nullptr) return Ref();
  Ref message = str_from(error.message());
  if (message) PyErr_SetObject(type, message.get());
  return Ref();
}

Ref raise_internal(const core_spec::SpecError& error) {
  return raise_text(PyExc_RuntimeError,
                    "internal error: a built-in spec does not compile: " + error.message());
}

Ref from_compiled(core_spec::Compiled compiled) {
  if (!compiled.ok()) return raise_spec_error(compiled.error());
  return wrap_spec(std::move(compiled.value()));
}

void spec_dealloc(PyObject* self) {
  reinterpret_cast<PySpec*>(self)->spec.~SharedSpec();
  free_object(self);
}

PyObject* spec_builtin(PyObject*, PyObject* args, PyObject* kwargs) {
  return guard([&] {
    static const char* kKeywords[] = {"version", nullptr};
    PyObject* version = nullptr;
    const auto held = parse_args(args, kwargs, "|O:builtin", kKeywords, &version);
    if (!held) return Ref();
    std::string_view text = "5010";
    if (version != nullptr && !str_arg("builtin", "version", version, text)) return Ref();
    const auto* cell = text == "5010"   ? &core_spec::shared_builtin_835()
                       : text == "4010" ? &core_spec::shared_builtin_835_4010()
                                        : nullptr;
    if (cell == nullptr) {
      return raise_text(PyExc_ValueError,
                        "Spec.builtin(version=" + zarvi_core::quote_bytes(text) +
                            "): no built-in spec for that version; the built-ins are \"5010\" "
                            "and \"4010\"");
    }
    if (!cell->ok()) return raise_internal(cell->error());
    return wrap_spec(cell->value());
  });
}

PyObject* spec_from_json(PyObject*, PyObject* args, PyObject* kwargs) {
  return guard([&] {
    static const char* kKeywords[] = {"json", nullptr};
    PyObject* json = nullptr;
    const auto held = parse_args(args, kwargs, "O:from_json", kKeywords, &json);
    if (!held) return Ref();
    std::string_view text;
    if (!str_arg("from_json", "json", json, text)) return Ref();
    return from_compiled(core_spec::Spec::from_json(text));
  });
}

// json.dumps(patch) with its default arguments. Its refusal of the dict
// (an Exception) becomes TypeError; an interruption, an exit, a lack of
// memory or any other BaseException is raised as it is.
Ref dumps(PyObject* patch) {
  Ref module = Ref::steal(PyImport_ImportModule("json"));
  if (!module) return Ref();
  Ref function = Ref::steal(PyObject_GetAttrString(module.get(), "dumps"));
  if (!function) return Ref();
  Ref text = Ref::steal(PyObject_CallFunctionObjArgs(function.get(), patch, nullptr));
  if (text || !replaceable_error()) return text;
  Ref cause = fetch_error();
  Ref message = Ref::steal(
      PyUnicode_FromFormat("Spec.patch: the dict cannot be written as JSON: %S", cause.get()));
  if (!message) return Ref();
  return raise_from(PyExc_TypeError, message.get(), std::move(cause));
}

// The text json.dumps writes for a dict key, worked out without running
// Python code (no __str__ or __repr__ of a subclass). None, with no
// exception set, for a key it refuses or cannot spell, which json.dumps then
// reports; none with the exception set when one that is not ours to word
// (MemoryError) came up.
std::optional<std::string> json_key(PyObject* key) {
  auto unspelled = []() -> std::optional<std::string> {
    if (replaceable_error()) PyErr_Clear();
    return std::nullopt;
  };
  if (PyUnicode_Check(key)) {
    Py_ssize_t size = 0;
    const char* data = PyUnicode_AsUTF8AndSize(key, &size);
    if (data != nullptr) return std::string(data, static_cast<size_t>(size));
    return unspelled();  // a lone surrogate
  }
  if (key == Py_True) return "true";
  if (key == Py_False) return "false";
  if (key == Py_None) return "null";
  PyTypeObject* exact = nullptr;
  if (PyFloat_Check(key)) {
    const double d = PyFloat_AsDouble(key);
    if (std::isnan(d)) return "NaN";
    if (std::isinf(d)) return d > 0 ? "Infinity" : "-Infinity";
    exact = &PyFloat_Type;
  } else if (PyLong_Check(key)) {
    exact = &PyLong_Type;
  } else {
    return std::nullopt;
  }
  // The exact type's own repr, as json.dumps uses for a subclass too.
  auto repr = reinterpret_cast<reprfunc>(PyType_GetSlot(exact, Py_tp_repr));
  Ref text = Ref::steal(repr(key));
  Py_ssize_t size = 0;
  const char* data = text ? PyUnicode_AsUTF8AndSize(text.get(), &size) : nullptr;
  if (data != nullptr) return std::string(data, static_cast<size_t>(size));
  return unspelled();  // an int past the interpreter's digit limit
}

// One value met by the walk below: the container it was found in (an index
// into the walked containers, or none for the patch itself) and its key
// there, or its index in a list or tuple.
struct Place {
  size_t parent;
  std::string key;
  Py_ssize_t index;  // -1 for a dict member
};
constexpr size_t kTop = static_cast<size_t>(-1);

// The spec path of a value: the keys and indexes from the top, outermost
// first, written as the spec's own messages write them.
std::string path_of(const std::vector<Place>& walked, const Place& place) {
  std::vector<const Place*> chain{&place};
  for (size_t at = place.parent; at != kTop; at = walked[at].parent) chain.push_back(&walked[at]);
  std::string path;
  for (auto it = chain.rbegin() + 1; it != chain.rend(); ++it) {
    const Place& p = **it;
    if (p.index >= 0) {
      path += "[" + std::to_string(p.index) + "]";
    } else {
      if (!path.empty()) path += '.';
      path += core_spec::child("", p.key);
    }
  }
  return path;
}

// SpecError naming the first float of a patch that is not finite (NaN or an
// infinity: json.dumps would write a token that JSON does not have); false.
// The walk sees the containers as json.dumps does and runs no Python code;
// it still holds a reference to each object before it reads the next, so
// nothing it visits can be freed under it. It ends at a key that json.dumps
// refuses, leaving json.dumps to report it. Containers are walked once each,
// without recursion, and each value keeps only its own key: the path is
// written for the one value reported, so time and memory follow the size of
// the patch.
bool finite_numbers(PyObject* patch) {
  struct Pending {
    Ref value;
    Place place;
  };
  std::vector<Pending> pending;
  pending.push_back({Ref::borrow(patch), {kTop, "", 0}});
  // The containers walked, whose references keep the addresses in `seen`
  // from being reused.
  std::vector<Place> walked;
  std::vector<Ref> held;
  std::unordered_set<PyObject*> seen;
  while (!pending.empty()) {
    Pending p = std::move(pending.back());
    pending.pop_back();
    PyObject* v = p.value.get();
    if (PyFloat_Check(v)) {
      const double d = PyFloat_AsDouble(v);
      if (std::isfinite(d)) continue;
      const char* what = std::isnan(d) ? "NaN" : d > 0 ? "infinity" : "negative infinity";
      PyObject* type = spec_error_type();
      if (type != nullptr)
        raise_text(type, "Spec.patch: the value at " + path_of(walked, p.place) + " is " + what +
                             ", which JSON cannot hold; a spec holds finite numbers only");
      return false;
    }
    const bool list = PyList_Check(v) != 0, tuple = !list && PyTuple_Check(v);
    if ((!list && !tuple && !PyDict_Check(v)) || !seen.insert(v).second) continue;
    const size_t parent = walked.size();
    walked.push_back(std::move(p.place));
    held.push_back(std::move(p.value));
    const size_t first = pending.size();
    if (list || tuple) {
      // The items as they are, not through a subclass's __getitem__.
      for (Py_ssize_t i = 0; i < (list ? PyList_Size(v) : PyTuple_Size(v)); ++i) {
        Ref item = Ref::borrow(list ? PyList_GetItem(v, i) : PyTuple_GetItem(v, i));
        pending.push_back({std::move(item), {parent, "", i}});
      }
    } else {
      PyObject *key, *value;
      Py_ssize_t at = 0;
      while (PyDict_Next(v, &at, &key, &value)) {
        Ref held_key = Ref::borrow(key), held_value = Ref::borrow(value);
        std::optional<std::string> text = json_key(held_key.get());
        if (!text) return PyErr_Occurred() == nullptr;
        pending.push_back({std::move(held_value), {parent, std::move(*text), -1}});
      }
    }
    // Reversed, so that the first in the patch's order is checked first.
    std::reverse(pending.begin() + static_cast<std::ptrdiff_t>(first), pending.end());
  }
  return true;
}

PyObject* spec_patch(PyObject* self, PyObject* args, PyObject* kwargs) {
  return guard([&] {
    static const char* kKeywords[] = {"patch", nullptr};
    PyObject* patch = nullptr;
    // json.dumps runs Python code.
    const auto held = parse_args(args, kwargs, "O:patch", kKeywords, &patch);
    if (!held) return Ref();
    Ref text;
    if (PyUnicode_Check(patch)) {
      text = Ref::borrow(patch);
    } else if (PyDict_Check(patch)) {
      if (!finite_numbers(patch)) return Ref();
      text = dumps(patch);
      if (!text) return Ref();
    } else {
      Ref type_name = Ref::steal(PyType_GetName(Py_TYPE(patch)));
      if (type_name)
        PyErr_Format(PyExc_TypeError, "Spec.patch takes a dict or a JSON string, not %U",
                     type_name.get());
      return Ref();
    }
    Py_ssize_t size = 0;
    const char* data = PyUnicode_AsUTF8AndSize(text.get(), &size);
    if (data == nullptr) return Ref();
    const core_spec::Spec& spec = *reinterpret_cast<PySpec*>(self)->spec;
    return from_compiled(spec.merge_patch(std::string_view(data, static_cast<std::size_t>(size))));
  });
}

PyObject* spec_to_json(PyObject* self, PyObject*) {
  return guard([&] { return str_from(reinterpret_cast<PySpec*>(self)->spec->to_json()); });
}

PyObject* spec_loops(PyObject* self, PyObject*) {
  return guard([&] {
    const core_spec::Spec& spec = *reinterpret_cast<PySpec*>(self)->spec;
    Ref list = Ref::steal(PyList_New(static_cast<Py_ssize_t>(spec.loops.size())));
    if (!list) return Ref();
    for (std::size_t i = 0; i < spec.loops.size(); ++i) {
      Ref name = str_from(spec.loops[i].name);
      if (!name) return Ref();
      PyList_SetItem(list.get(), static_cast<Py_ssize_t>(i), name.release());
    }
    return list;
  });
}

PyObject* spec_repr(PyObject* self) {
  return guard([&] {
    const core_spec::Spec& spec = *reinterpret_cast<PySpec*>(self)->spec;
    Ref name = str_from(spec.name);
    if (!name) return Ref();
    return Ref::steal(PyUnicode_FromFormat("Spec(name='%U', loops=%zu, tables=%zu)", name.get(),
                                           spec.loops.size(), spec.tables.size()));
  });
}

PyMethodDef kSpecMethods[] = {
    {"builtin", reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(spec_builtin)),
     METH_VARARGS | METH_KEYWORDS | METH_STATIC,
     "builtin(version=\"5010\")\n--\n\n"
     "The built-in 835 spec of `version`, `\"5010\"` (the default) or\n"
     "`\"4010\"`; raises `ValueError` for any other version."},
    {"from_json", reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(spec_from_json)),
     METH_VARARGS | METH_KEYWORDS | METH_STATIC,
     "from_json(json)\n--\n\n"
     "The spec described by `json`; raises `SpecError` with the core message\n"
     "when it is not valid."},
    {"patch", reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(spec_patch)),
     METH_VARARGS | METH_KEYWORDS,
     "patch($self, patch)\n--\n\n"
     "A new spec with `patch` (a dict or JSON text) merged over this one;\n"
     "raises `SpecError` when the result is not valid."},
    {"to_json", spec_to_json, METH_NOARGS,
     "to_json($self)\n--\n\nThe spec as JSON text."},
    {"loops", spec_loops, METH_NOARGS,
     "loops($self)\n--\n\nThe loop names, in spec order."},
    {nullptr, nullptr, 0, nullptr},
};

PyType_Slot kSpecSlots[] = {
    {Py_tp_doc,
     const_cast<char*>("The loop structure, element definitions and tables of a file format.")},
    {Py_tp_dealloc, reinterpret_cast<void*>(spec_dealloc)},
    {Py_tp_repr, reinterpret_cast<void*>(spec_repr)},
    {Py_tp_methods, kSpecMethods},
    {0, nullptr},
};

PyType_Spec kSpecSpec = {
    "zarvi.Spec",
    sizeof(PySpec),
    0,
    Py_TPFLAGS_DEFAULT | Py_TPFLAGS_IMMUTABLETYPE | Py_TPFLAGS_DISALLOW_INSTANTIATION,
    kSpecSlots,
};

}  // namespace

PyObject* spec_type() { return cached_type(spec_type_cell, kSpecSpec); }

Ref wrap_spec(SharedSpec spec) {
  Ref object = alloc_object(spec_type());
  if (!object) return Ref();
  new (&reinterpret_cast<PySpec*>(object.get())->spec) SharedSpec(std::move(spec));
  return object;
}

const SharedSpec* spec_of(PyObject* object) {
  if (!instance_of(object, spec_type())) return nullptr;
  return &reinterpret_cast<PySpec*>(object)->spec;
}

SharedSpec builtin() {
  const auto& cell = core_spec::shared_builtin_835();
  if (!cell.ok()) {
    raise_internal(cell.error());
    return nullptr;
  }
  return cell.value();
}

SharedSpec given_or_selected(SharedSpec given, const core_spec::NextSegment& next,
                             std::string& fault) {
  if (given) return given;
  auto chosen = core_spec::select_builtin(next);
  if (!chosen.ok()) {
    fault = "a built-in spec does not compile: " + chosen.error().message();
    return nullptr;
  }
  return std::move(chosen.value());
}

SharedSpec given_or_selected(SharedSpec given, const zarvi_core::Document& document,
                             std::string& fault) {
  zarvi_core::Segments segments(document);
  return given_or_selected(std::move(given), [&] { return segments.next(); }, fault);
}

SharedSpec given_or_selected(SharedSpec given, zarvi_core::Tokenizer tokenizer,
                             std::string& fault) {
  return given_or_selected(std::move(given), [&] { return tokenizer.next(); }, fault);
}

Ref edi_835_parser_patch_row(PyObject*) { return str_from(core_spec::edi_835_parser_patch_text()); }

}  // namespace zarvi_py
